#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class NativeMessageKind {
    Other,
    SessionEnd,       // the user session ends (WM_ENDSESSION)
    WindowDestroyed,  // a window is being destroyed (WM_DESTROY)
};

struct NativeMessage {
    NativeMessageKind kind = NativeMessageKind::Other;
    std::uintptr_t window = 0;  // the native handle the message is addressed to
};

// Reads the messages that reach a Qt native event filter.
class NativeMessages {
  public:
    virtual ~NativeMessages() = default;

    // `eventType` is Qt's name for the message structure ("windows_generic_MSG" and so on),
    // `message` points to that structure.
    virtual NativeMessage classify(const std::string& eventType, const void* message) = 0;
};

}  // namespace platform
