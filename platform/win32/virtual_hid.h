#pragma once

// clang-format off
#include <windows.h>
#include <setupapi.h>
// mingw-w64's HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <functional>

#include "platform/virtual_hid.h"

namespace platform {

namespace win32 {

// The system calls the virtual HID client makes; tests replace them, as the device is
// rarely installed.
struct VirtualHidCalls {
    std::function<void(LPGUID)> hidGetHidGuid = HidD_GetHidGuid;
    std::function<HDEVINFO(const GUID*, PCSTR, HWND, DWORD)> getClassDevs = SetupDiGetClassDevsA;
    std::function<BOOL(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA)>
        enumDeviceInterfaces = SetupDiEnumDeviceInterfaces;
    std::function<BOOL(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                       DWORD, PDWORD, PSP_DEVINFO_DATA)>
        getDeviceInterfaceDetail = SetupDiGetDeviceInterfaceDetailA;
    std::function<BOOL(HDEVINFO)> destroyDeviceInfoList = SetupDiDestroyDeviceInfoList;
    std::function<HANDLE(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>
        createFile = CreateFileA;
    std::function<BOOL(HANDLE)> closeHandle = CloseHandle;
    std::function<BOOLEAN(HANDLE, PHIDP_PREPARSED_DATA*)> hidGetPreparsedData =
        HidD_GetPreparsedData;
    std::function<BOOLEAN(PHIDP_PREPARSED_DATA)> hidFreePreparsedData = HidD_FreePreparsedData;
    std::function<BOOLEAN(HANDLE, PHIDD_ATTRIBUTES)> hidGetAttributes = HidD_GetAttributes;
    std::function<NTSTATUS(PHIDP_PREPARSED_DATA, PHIDP_CAPS)> hidGetCaps = HidP_GetCaps;
    std::function<BOOLEAN(HANDLE, ULONG)> hidSetNumInputBuffers = HidD_SetNumInputBuffers;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> writeFile = WriteFile;
};

// The vmulti device and its two vendor-defined collections.
constexpr USHORT kVirtualHidVendorId = 0x001F;
constexpr USHORT kVirtualHidProductId = 0xBA1C;
constexpr USHORT kVirtualHidUsagePage = 0xFF00;
constexpr USHORT kVirtualHidControlUsage = 0x0001;
constexpr USHORT kVirtualHidMessageUsage = 0x0002;

struct vmulti_client {
    HANDLE hControl;
    HANDLE hMessage;
    ControlReport controlReport;
};
typedef vmulti_client* pvmulti_client;

// True when both collections are open.
bool openVirtualHid(const VirtualHidCalls& calls, pvmulti_client vmulti);
void closeVirtualHid(const VirtualHidCalls& calls, pvmulti_client vmulti);
// The open collection of the device with the usage, or INVALID_HANDLE_VALUE.
HANDLE findVirtualHidCollection(const VirtualHidCalls& calls, USHORT usage);
bool matchVirtualHidCollection(const VirtualHidCalls& calls, HANDLE file, USHORT usage);
// True when WriteFile took the report.
bool sendKeyboardReport(const VirtualHidCalls& calls, pvmulti_client vmulti, BYTE shiftKeyFlags,
                        const BYTE keyCodes[6]);
bool sendRelativeMouseReport(const VirtualHidCalls& calls, pvmulti_client vmulti, BYTE button,
                             CHAR x, CHAR y, CHAR wheelPosition);

}  // namespace win32

// The report buffer is cleared once when the client is made, so no stale heap bytes reach
// the device; after that each report rewrites only its own bytes.
class Win32VirtualHidClient final : public VirtualHidClient {
  public:
    explicit Win32VirtualHidClient(win32::VirtualHidCalls calls = {});
    ~Win32VirtualHidClient() override;
    Win32VirtualHidClient(const Win32VirtualHidClient&) = delete;
    Win32VirtualHidClient& operator=(const Win32VirtualHidClient&) = delete;

    bool open() override;
    void close() override;
    bool sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) override;
    bool sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x, std::int8_t y,
                                 std::int8_t wheel) override;

  private:
    win32::VirtualHidCalls calls_;
    std::unique_ptr<win32::vmulti_client> record_;
};

class Win32VirtualHid final : public VirtualHid {
  public:
    explicit Win32VirtualHid(win32::VirtualHidCalls calls = {});
    std::unique_ptr<VirtualHidClient> createClient() override;

  private:
    win32::VirtualHidCalls calls_;
};

}  // namespace platform
