#include "platform/win32/device_notifications.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <cstddef>
#include <cwchar>
#include <utility>

#include "platform/win32/native_messages.h"
#include "platform/win32/text.h"
#include "platform/win32/usb_interface_class.h"

namespace platform {

namespace {

DeviceChangeEvent eventOf(WPARAM code) {
    switch (code) {
        case DBT_DEVICEARRIVAL:
            return DeviceChangeEvent::Arrival;
        case DBT_DEVICEREMOVECOMPLETE:
            return DeviceChangeEvent::RemoveComplete;
        case DBT_DEVICEREMOVEPENDING:
            return DeviceChangeEvent::RemovePending;
        default:
            return DeviceChangeEvent::Other;
    }
}

// The name runs to the end of the structure as its header gives the size; it need not be
// terminated inside it.
std::string interfaceName(const DEV_BROADCAST_HDR& header) {
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header.dbch_size <= nameOffset) {
        return {};
    }
    const auto& broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W&>(header);
    const std::size_t capacity = (header.dbch_size - nameOffset) / sizeof(wchar_t);
    return win32::toUtf8(broadcast.dbcc_name, wcsnlen(broadcast.dbcc_name, capacity));
}

}  // namespace

Win32DeviceNotifications::~Win32DeviceNotifications() {
    if (registration_ != nullptr) {
        UnregisterDeviceNotification(registration_);
    }
}

bool Win32DeviceNotifications::registerWindow(std::uintptr_t window) {
    const HWND handle = reinterpret_cast<HWND>(window);
    if (handle == nullptr || !IsWindow(handle)) {
        return false;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = win32::kUsbDeviceInterfaceClass;
    HDEVNOTIFY registration =
        RegisterDeviceNotificationW(handle, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (registration == nullptr) {
        return false;
    }
    if (registration_ != nullptr) {
        UnregisterDeviceNotification(registration_);
    }
    registration_ = registration;
    return true;
}

bool Win32DeviceNotifications::decode(const std::string& eventType, const void* message,
                                      DeviceChange& change) {
    const MSG* msg = win32::qtWindowsMessage(eventType, message);
    if (msg == nullptr || msg->message != WM_DEVICECHANGE) {
        return false;
    }
    DeviceChange decoded;
    decoded.event = eventOf(msg->wParam);
    // Only these events carry a broadcast structure; for the others lParam is no pointer.
    if (decoded.event != DeviceChangeEvent::Other && msg->lParam != 0) {
        const auto& header = *reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
        decoded.deviceType = header.dbch_devicetype;
        if (header.dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            decoded.interfaceName = interfaceName(header);
        }
    }
    change = std::move(decoded);
    return true;
}

void Win32DeviceNotifications::setListener(std::function<void(const DeviceChange&)> listener) {
    listener_ = std::move(listener);
}

}  // namespace platform
