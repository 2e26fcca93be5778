#pragma once

#include "platform/crash_reporting.h"

namespace platform {

// One filter serves the whole process; the last successful start decides the paths.
class Win32CrashReporting final : public CrashReporting {
  public:
    bool start(const std::string& dumpFolder, const std::string& reporterPath) override;
};

}  // namespace platform
