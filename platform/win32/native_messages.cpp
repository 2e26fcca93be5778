#include "platform/win32/native_messages.h"

namespace platform {

namespace win32 {

const MSG* qtWindowsMessage(const std::string& eventType, const void* message) {
    if (message == nullptr ||
        (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")) {
        return nullptr;
    }
    return static_cast<const MSG*>(message);
}

}  // namespace win32

NativeMessage Win32NativeMessages::classify(const std::string& eventType, const void* message) {
    NativeMessage result;
    const MSG* msg = win32::qtWindowsMessage(eventType, message);
    if (msg == nullptr) {
        return result;
    }
    result.window = reinterpret_cast<std::uintptr_t>(msg->hwnd);
    switch (msg->message) {
        case WM_ENDSESSION:
            // FALSE: another program refused, the session goes on.
            if (msg->wParam != FALSE) {
                result.kind = NativeMessageKind::SessionEnd;
            }
            break;
        case WM_DESTROY:
            result.kind = NativeMessageKind::WindowDestroyed;
            break;
        default:
            break;
    }
    return result;
}

}  // namespace platform
