#include <memory>

#include "platform/services.h"
#include "platform/win32/crash_reporting.h"
#include "platform/win32/device_enumeration.h"
#include "platform/win32/device_notifications.h"
#include "platform/win32/error_mode.h"
#include "platform/win32/filter_driver.h"
#include "platform/win32/input_services.h"
#include "platform/win32/mouse_settings.h"
#include "platform/win32/native_messages.h"
#include "platform/win32/shell_operations.h"
#include "platform/win32/text.h"
#include "platform/win32/virtual_hid.h"
#include "platform/win32/window_activation.h"

namespace platform {

Services systemServices() {
    Services services;
    services.errorMode = std::make_unique<Win32ErrorMode>();
    services.windowActivation = std::make_unique<Win32WindowActivation>();
    services.nativeMessages = std::make_unique<Win32NativeMessages>();
    services.crashReporting = std::make_unique<Win32CrashReporting>();
    services.deviceEnumeration = std::make_unique<Win32DeviceEnumeration>();
    services.deviceNotifications = std::make_unique<Win32DeviceNotifications>();
    services.filterDriver = std::make_unique<Win32FilterDriver>();
    services.virtualHid = std::make_unique<Win32VirtualHid>();
    services.mouseSettings = std::make_unique<Win32MouseSettings>();
    services.mouseHook = std::make_unique<Win32MouseHook>();
    services.cursor = std::make_unique<Win32Cursor>();
    services.keyboardLayout = std::make_unique<Win32KeyboardLayout>();
    services.processPriority = std::make_unique<Win32ProcessPriority>();
    services.globalHotKeys = std::make_unique<Win32GlobalHotKeys>();
    services.shellOperations = std::make_unique<Win32ShellOperations>();
    return services;
}

std::string executableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string(".") : win32::toUtf8(path.substr(0, slash));
}

}  // namespace platform
