#include "platform/win32/virtual_hid.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace platform {

namespace win32 {

namespace {

constexpr ULONG kMessageInputBuffers = 10;

bool isOpen(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool writeControlReport(const VirtualHidCalls& calls, pvmulti_client vmulti) {
    DWORD written = 0;
    if (!calls.writeFile(vmulti->hControl, vmulti->controlReport.data(), kControlReportSize,
                         &written, nullptr)) {
        std::printf("failed WriteFile %d\n", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

}  // namespace

bool openVirtualHid(const VirtualHidCalls& calls, pvmulti_client vmulti) {
    vmulti->hControl = findVirtualHidCollection(calls, kVirtualHidControlUsage);
    if (!isOpen(vmulti->hControl)) {
        vmulti->hControl = nullptr;
        return false;
    }
    vmulti->hMessage = findVirtualHidCollection(calls, kVirtualHidMessageUsage);
    if (!isOpen(vmulti->hMessage)) {
        vmulti->hMessage = nullptr;
        closeVirtualHid(calls, vmulti);
        return false;
    }
    if (!calls.hidSetNumInputBuffers(vmulti->hMessage, kMessageInputBuffers)) {
        std::printf("failed HidD_SetNumInputBuffers %d\n", static_cast<int>(GetLastError()));
        closeVirtualHid(calls, vmulti);
        return false;
    }
    return true;
}

void closeVirtualHid(const VirtualHidCalls& calls, pvmulti_client vmulti) {
    if (vmulti->hControl != nullptr) {
        calls.closeHandle(vmulti->hControl);
    }
    if (vmulti->hMessage != nullptr) {
        calls.closeHandle(vmulti->hMessage);
    }
    vmulti->hControl = nullptr;
    vmulti->hMessage = nullptr;
}

HANDLE findVirtualHidCollection(const VirtualHidCalls& calls, USHORT usage) {
    GUID hidGuid;
    calls.hidGetHidGuid(&hidGuid);
    HDEVINFO set =
        calls.getClassDevs(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::printf("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(GetLastError()));
        return INVALID_HANDLE_VALUE;
    }
    std::printf("\n....looking for our HID device (with UP=0x%x and Usage=0x%x)\n",
                kVirtualHidUsagePage, usage);

    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    for (DWORD index = 0; calls.enumDeviceInterfaces(set, nullptr, &hidGuid, index, &entry);
         ++index) {
        DWORD required = 0;
        calls.getDeviceInterfaceDetail(set, &entry, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
            continue;
        }
        // One zero byte beyond what was asked for keeps the path terminated.
        auto* detail =
            static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(std::calloc(1, required + 1));
        if (detail == nullptr) {
            std::printf("Error: OpenDeviceInterface: malloc failed\n");
            continue;
        }
        // The size of the fixed part for this build: 5 on 32-bit Windows, 8 on 64-bit.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!calls.getDeviceInterfaceDetail(set, &entry, detail, required, nullptr, nullptr)) {
            std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
            std::free(detail);
            continue;
        }
        HANDLE file = calls.createFile(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::printf("Error: CreateFile failed: %d\n", static_cast<int>(GetLastError()));
            std::free(detail);
            continue;
        }
        if (matchVirtualHidCollection(calls, file, usage)) {
            std::free(detail);
            calls.destroyDeviceInfoList(set);
            return file;
        }
        calls.closeHandle(file);
        std::free(detail);
    }

    std::printf("Failure: Could not find our HID device \n");
    calls.destroyDeviceInfoList(set);
    return INVALID_HANDLE_VALUE;
}

bool matchVirtualHidCollection(const VirtualHidCalls& calls, HANDLE file, USHORT usage) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!calls.hidGetPreparsedData(file, &preparsed)) {
        std::printf("Error: HidD_GetPreparsedData failed \n");
        return false;
    }
    bool match = false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    HIDP_CAPS caps{};
    if (!calls.hidGetAttributes(file, &attributes)) {
        std::printf("Error: HidD_GetAttributes failed \n");
    } else if (attributes.VendorID != kVirtualHidVendorId ||
               attributes.ProductID != kVirtualHidProductId) {
        // Another HID device: not ours, nothing to say.
    } else if (calls.hidGetCaps(preparsed, &caps) != HIDP_STATUS_SUCCESS) {
        std::printf("Error: HidP_GetCaps failed \n");
    } else if (caps.UsagePage == kVirtualHidUsagePage && caps.Usage == usage) {
        std::printf("Success: Found my device.. \n");
        match = true;
    }
    calls.hidFreePreparsedData(preparsed);
    return match;
}

bool sendKeyboardReport(const VirtualHidCalls& calls, pvmulti_client vmulti, BYTE shiftKeyFlags,
                        const BYTE keyCodes[6]) {
    fillKeyboardReport(vmulti->controlReport, shiftKeyFlags, keyCodes);
    return writeControlReport(calls, vmulti);
}

bool sendRelativeMouseReport(const VirtualHidCalls& calls, pvmulti_client vmulti, BYTE button,
                             CHAR x, CHAR y, CHAR wheelPosition) {
    fillRelativeMouseReport(vmulti->controlReport, button, x, y, wheelPosition);
    return writeControlReport(calls, vmulti);
}

}  // namespace win32

Win32VirtualHidClient::Win32VirtualHidClient(win32::VirtualHidCalls calls)
    : calls_(std::move(calls)), record_(std::make_unique<win32::vmulti_client>()) {}

Win32VirtualHidClient::~Win32VirtualHidClient() {
    win32::closeVirtualHid(calls_, record_.get());
}

bool Win32VirtualHidClient::open() {
    win32::closeVirtualHid(calls_, record_.get());
    return win32::openVirtualHid(calls_, record_.get());
}

void Win32VirtualHidClient::close() {
    win32::closeVirtualHid(calls_, record_.get());
}

bool Win32VirtualHidClient::sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) {
    if (keys == nullptr) {
        return false;
    }
    return win32::sendKeyboardReport(calls_, record_.get(), shift, keys);
}

bool Win32VirtualHidClient::sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x,
                                                    std::int8_t y, std::int8_t wheel) {
    return win32::sendRelativeMouseReport(calls_, record_.get(), buttons, x, y, wheel);
}

Win32VirtualHid::Win32VirtualHid(win32::VirtualHidCalls calls) : calls_(std::move(calls)) {}

std::unique_ptr<VirtualHidClient> Win32VirtualHid::createClient() {
    return std::make_unique<Win32VirtualHidClient>(calls_);
}

}  // namespace platform
