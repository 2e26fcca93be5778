#pragma once

#include <string>

namespace platform {

class CrashReporting {
  public:
    virtual ~CrashReporting() = default;

    // Arms fault handling for the process: on a fault a dump named by a fresh identifier
    // with the extension ".dmp" is written into `dumpFolder` and `reporterPath` is started
    // with the dump's path as its only argument. Returns false when it could not be armed.
    virtual bool start(const std::string& dumpFolder, const std::string& reporterPath) = 0;
};

}  // namespace platform
