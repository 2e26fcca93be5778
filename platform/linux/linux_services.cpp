// The services of a Linux desktop. Where Linux has no counterpart of a Windows service the
// backend says so with the answer the system expects from an absent one.

#include <unistd.h>

#include <climits>

#include "platform/linux/crash_reporting_linux.h"
#include "platform/linux/process_priority_linux.h"
#include "platform/linux/shell_operations_linux.h"
#include "platform/linux/x11_input.h"
#include "platform/services.h"
#include "platform/sim/desktop.h"
#include "platform/sim/device_enumeration.h"
#include "platform/sim/device_notifications.h"
#include "platform/sim/filter_driver.h"
#include "platform/sim/input_files.h"
#include "platform/sim/mouse_settings.h"
#include "platform/sim/sim_state.h"
#include "platform/sim/virtual_hid.h"

namespace platform {
namespace {

// Linux shows no fault dialog box; a crash simply ends the process.
class LinuxErrorMode : public ErrorMode {
  public:
    void disableFaultDialog() override {}
};

// Activation of another process's window needs the window manager's help, which a
// running instance asks for itself when it is told to show its window.
class LinuxWindowActivation : public WindowActivation {
  public:
    bool activateProcessWindow(std::uint32_t, const std::string&) override { return false; }
};

// No session-end or window-destroyed messages reach Qt's native filter here.
class LinuxNativeMessages : public NativeMessages {
  public:
    NativeMessage classify(const std::string&, const void*) override { return NativeMessage(); }
};

// Key events reach Qt already translated by the session's own layout, and macros type through
// the virtual device by HID usage: the process has no layout of its own to switch.
class LinuxKeyboardLayout : public KeyboardLayout {
  public:
    void activateUsEnglish() override {}
};

}  // namespace

Services systemServices() {
    Services services;
    services.errorMode = std::make_unique<LinuxErrorMode>();
    services.windowActivation = std::make_unique<LinuxWindowActivation>();
    services.nativeMessages = std::make_unique<LinuxNativeMessages>();
    services.crashReporting = std::make_unique<LinuxCrashReporting>();
    // The mice and keyboards a Linux desktop has are not the maker's; the simulated device
    // stands in for them, as it does for the device library.
    const std::filesystem::path stateFile = simStateFile(executableFolder());
    services.deviceEnumeration = std::make_unique<SimDeviceEnumeration>(stateFile);
    services.deviceNotifications = std::make_unique<SimDeviceNotifications>(stateFile);
    // Nor are their filter driver and virtual HID device there: the simulated ones are driven
    // and read with dcsim.
    const auto desktop = std::make_shared<SimDesktop>();
    services.filterDriver = std::make_unique<SimFilterDriver>(stateFile, desktop);
    services.virtualHid = std::make_unique<SimVirtualHid>(stateFile);
    services.mouseSettings =
        std::make_unique<SimMouseSettings>(simInputFiles(stateFile).mouseSettings);
    // The pointer is the X display's where there is one, else the simulated desktop's, whose
    // left clicks are those the simulated filter passes on.
    if (auto hook = X11MouseHook::create())
        services.mouseHook = std::move(hook);
    else
        services.mouseHook = std::make_unique<SimMouseHook>(desktop);
    if (auto cursor = X11Cursor::create())
        services.cursor = std::move(cursor);
    else
        services.cursor = std::make_unique<SimCursor>(desktop);
    services.keyboardLayout = std::make_unique<LinuxKeyboardLayout>();
    services.processPriority = std::make_unique<LinuxProcessPriority>();
    services.globalHotKeys = std::make_unique<X11GlobalHotKeys>();
    services.shellOperations = std::make_unique<LinuxShellOperations>();
    return services;
}

std::string executableFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0)
        return ".";
    std::string folder(path, static_cast<size_t>(length));
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

}  // namespace platform
