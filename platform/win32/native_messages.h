#pragma once

#include <windows.h>

#include "platform/native_messages.h"

namespace platform {

namespace win32 {

// The MSG behind a Qt native event, or nullptr when the event carries something else.
const MSG* qtWindowsMessage(const std::string& eventType, const void* message);

}  // namespace win32

class Win32NativeMessages final : public NativeMessages {
  public:
    NativeMessage classify(const std::string& eventType, const void* message) override;
};

}  // namespace platform
