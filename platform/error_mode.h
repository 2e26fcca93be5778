#pragma once

namespace platform {

// The system's own fault dialog box would block a crashed tray program until a user
// dismisses it; the crash reporter takes its place.
class ErrorMode {
  public:
    virtual ~ErrorMode() = default;
    virtual void disableFaultDialog() = 0;
};

}  // namespace platform
