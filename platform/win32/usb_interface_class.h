#pragma once

#include <windows.h>

namespace platform::win32 {

// GUID_DEVINTERFACE_USB_DEVICE, spelt out so that no translation unit needs initguid.h.
inline constexpr GUID kUsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

}  // namespace platform::win32
