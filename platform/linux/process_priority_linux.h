#pragma once

#include "platform/input_hooks.h"

namespace platform {

// The nearest to Windows' high priority class: a nice value of -10 for every thread of the
// process (Linux keeps the value per thread; threads started later inherit it). Without the
// right to lower nice values nothing changes, silently; a higher priority is never lowered.
class LinuxProcessPriority final : public ProcessPriority {
  public:
    void raiseToHigh() override;

    static constexpr int kHighNice = -10;
};

}  // namespace platform
