#pragma once

#include <memory>
#include <string>

#include "platform/crash_reporting.h"
#include "platform/device_enumeration.h"
#include "platform/device_notifications.h"
#include "platform/error_mode.h"
#include "platform/native_messages.h"
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
};

// The backend of the machine the program runs on.
Services systemServices();

// The folder holding the running executable, without a trailing separator (UTF-8). Usable
// before any other part of the program is set up.
std::string executableFolder();

}  // namespace platform
