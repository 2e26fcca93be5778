#pragma once

// platform/: the operating-system services the system calls, one small interface each, and
// their backends (linux/, sim/, win32/). May use base/ and storage/; the Windows backend uses
// nothing of Qt.

#include <memory>
#include <string>

#include "platform/crash_reporting.h"
#include "platform/device_enumeration.h"
#include "platform/device_notifications.h"
#include "platform/error_mode.h"
#include "platform/filter_driver.h"
#include "platform/input_hooks.h"
#include "platform/mouse_settings.h"
#include "platform/native_messages.h"
#include "platform/shell_operations.h"
#include "platform/virtual_hid.h"
#include "platform/window_activation.h"

namespace platform {

// Everything the system asks of the operating system, handed to it at start-up. The build
// decides which backend provides `systemServices`; the system code never picks one.
struct Services {
    std::unique_ptr<ErrorMode> errorMode;
    std::unique_ptr<WindowActivation> windowActivation;
    std::unique_ptr<NativeMessages> nativeMessages;
    std::unique_ptr<CrashReporting> crashReporting;
    std::unique_ptr<DeviceEnumeration> deviceEnumeration;
    std::unique_ptr<DeviceNotifications> deviceNotifications;
    // The macro and input engine's.
    std::unique_ptr<FilterDriver> filterDriver;
    std::unique_ptr<VirtualHid> virtualHid;
    std::unique_ptr<MouseSettings> mouseSettings;
    std::unique_ptr<MouseHook> mouseHook;
    std::unique_ptr<Cursor> cursor;
    std::unique_ptr<KeyboardLayout> keyboardLayout;
    std::unique_ptr<ProcessPriority> processPriority;
    std::unique_ptr<GlobalHotKeys> globalHotKeys;
    // The update system's.
    std::unique_ptr<ShellOperations> shellOperations;
};

// The backend of the machine the program runs on.
Services systemServices();

// The folder holding the running executable, without a trailing separator (UTF-8). Usable
// before any other part of the program is set up.
std::string executableFolder();

}  // namespace platform
