#pragma once

#include "platform/crash_reporting.h"

namespace platform {

// Catches fatal signals: writes the dump (signal number and a backtrace) with
// async-signal-safe calls only, starts the reporter, then lets the signal end the process.
class LinuxCrashReporting : public CrashReporting {
  public:
    bool start(const std::string& dumpFolder, const std::string& reporterPath) override;
};

// A fresh random identifier in the 8-4-4-4-12 hexadecimal form.
std::string freshIdentifier();

}  // namespace platform
