#pragma once

#include "platform/window_activation.h"

namespace platform {

class Win32WindowActivation final : public WindowActivation {
  public:
    bool activateProcessWindow(std::uint32_t pid, const std::string& titlePattern) override;
};

}  // namespace platform
