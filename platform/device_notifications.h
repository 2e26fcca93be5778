#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class DeviceChangeEvent {
    Arrival,         // DBT_DEVICEARRIVAL
    RemoveComplete,  // DBT_DEVICEREMOVECOMPLETE
    RemovePending,   // DBT_DEVICEREMOVEPENDING
    Other,
};

struct DeviceChange {
    DeviceChangeEvent event = DeviceChangeEvent::Other;
    std::uint32_t deviceType = 0;  // 5: a device interface
    std::string interfaceName;     // UTF-8; set for device-interface changes
};

// Device arrival and removal as the main window learns of them.
class DeviceNotifications {
  public:
    virtual ~DeviceNotifications() = default;

    // Asks for USB device-interface arrival and removal notifications to `window`.
    virtual bool registerWindow(std::uintptr_t window) = 0;

    // Reads a native message given to the window's native event hook (Qt's event type name
    // and message structure). True when it was a device-change message, with `change` set.
    virtual bool decode(const std::string& eventType, const void* message,
                        DeviceChange& change) = 0;

    // Backends that learn of changes other than through window messages report them here,
    // on a thread of their own: the listener hands the change on to its own thread. Once
    // setListener(nullptr) returns, the old listener is no longer running.
    virtual void setListener(std::function<void(const DeviceChange&)> listener) = 0;
};

}  // namespace platform
