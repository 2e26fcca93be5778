#pragma once

#include <windows.h>

#include <functional>

#include "platform/filter_driver.h"

namespace platform {

namespace win32 {

// The system calls the filter-driver client makes; tests replace them, as the driver is
// rarely installed.
struct FilterDriverCalls {
    std::function<HANDLE(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>
        createFile = CreateFileA;
    std::function<HANDLE(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR)> createEvent = CreateEventA;
    std::function<BOOL(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)>
        deviceIoControl = DeviceIoControl;
    std::function<DWORD(DWORD, const HANDLE*, BOOL, DWORD)> waitForMultipleObjects =
        WaitForMultipleObjects;
    std::function<BOOL(HANDLE)> setEvent = SetEvent;
    std::function<BOOL(HANDLE)> closeHandle = CloseHandle;
};

// Control codes of the driver (device type 0x22, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr DWORD kFilterSetEvent = 0x222040;
constexpr DWORD kFilterSetFilter = 0x222010;
constexpr DWORD kFilterWriteStrokes = 0x222080;
constexpr DWORD kFilterReadStrokes = 0x222100;
constexpr DWORD kFilterGetHardwareId = 0x222200;

// Driver-side record sizes: the driver kit's keyboard and mouse input records.
constexpr DWORD kKeyboardRecordSize = 12;
constexpr DWORD kMouseRecordSize = 24;

// One entry of the channel table: the channel's device handle, then the event the driver
// signals when the channel has a stroke waiting.
struct FilterChannel {
    HANDLE device;
    HANDLE event;
};

// The table of kFilterDeviceCount channels on the process heap, or null unless every
// channel of the driver opened.
FilterChannel* openFilterContext(const FilterDriverCalls& calls);
// Null allowed.
void closeFilterContext(const FilterDriverCalls& calls, FilterChannel* table);

}  // namespace win32

// The Interception filter driver's channels. wake() sets channel 0's event: the wait then
// answers keyboard device 1, which has no filter and so no stroke to read, and the reader's
// receive yields nothing. The event stays set, so a wait that has not begun yet returns too.
class Win32FilterContext final : public FilterContext {
  public:
    Win32FilterContext(win32::FilterDriverCalls calls, win32::FilterChannel* table);
    ~Win32FilterContext() override;
    Win32FilterContext(const Win32FilterContext&) = delete;
    Win32FilterContext& operator=(const Win32FilterContext&) = delete;

    void setStrokeFilter(const std::function<bool(int device)>& predicate,
                         std::uint16_t mask) override;
    int waitForStroke() override;
    int sendStrokes(int device, const Stroke* strokes, int count) override;
    int receiveStrokes(int device, Stroke* strokes, int capacity) override;
    std::size_t readHardwareId(int device, void* buffer, std::size_t size) override;
    void wake() override;

  private:
    win32::FilterDriverCalls calls_;
    win32::FilterChannel* table_;
};

class Win32FilterDriver final : public FilterDriver {
  public:
    explicit Win32FilterDriver(win32::FilterDriverCalls calls = {});
    std::unique_ptr<FilterContext> open() override;

  private:
    win32::FilterDriverCalls calls_;
};

}  // namespace platform
