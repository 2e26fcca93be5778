#pragma once

#include <cstdint>
#include <string>

namespace platform {

class WindowActivation {
  public:
    virtual ~WindowActivation() = default;

    // Walks the desktop's top-level windows; the first one owned by `pid` whose title
    // (1 to 1023 characters) matches `titlePattern` (ECMAScript syntax, UTF-8) becomes the
    // foreground window with the keyboard focus. Does nothing for pid 0. Returns whether a
    // window was activated.
    virtual bool activateProcessWindow(std::uint32_t pid, const std::string& titlePattern) = 0;
};

}  // namespace platform
