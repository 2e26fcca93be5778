#pragma once

#include "platform/device_notifications.h"

namespace platform {

class Win32DeviceNotifications final : public DeviceNotifications {
  public:
    Win32DeviceNotifications() = default;
    ~Win32DeviceNotifications() override;
    Win32DeviceNotifications(const Win32DeviceNotifications&) = delete;
    Win32DeviceNotifications& operator=(const Win32DeviceNotifications&) = delete;

    bool registerWindow(std::uintptr_t window) override;
    bool decode(const std::string& eventType, const void* message, DeviceChange& change) override;
    // Windows reports every change as a window message, so the listener is kept but never
    // called.
    void setListener(std::function<void(const DeviceChange&)> listener) override;

  private:
    void* registration_ = nullptr;  // HDEVNOTIFY
    std::function<void(const DeviceChange&)> listener_;
};

}  // namespace platform
