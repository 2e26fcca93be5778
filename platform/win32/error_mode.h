#pragma once

#include "platform/error_mode.h"

namespace platform {

class Win32ErrorMode final : public ErrorMode {
  public:
    void disableFaultDialog() override;
};

}  // namespace platform
