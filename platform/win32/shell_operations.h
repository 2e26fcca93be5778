#pragma once

#include "platform/shell_operations.h"

namespace platform {

// The shell's own calls. Symbolic links and junctions below a walked tree are left out of it
// (they are neither descended into nor listed), so a walk never leaves the tree; the shell's
// delete removes such links, not what they point to. A path holding "*" or "?" names no
// single file and is never deleted: the shell would take it as a pattern.
class Win32ShellOperations final : public ShellOperations {
  public:
    bool deleteTree(const std::string& path) override;
    int walkTree(const std::string& root, std::vector<TreeEntry>& entries) override;
    int createFolder(const std::string& path) override;
    int copyFile(const std::string& source, const std::string& target) override;
    long execute(const std::string& program, const std::string& arguments,
                 const std::string& workingFolder, bool elevated) override;
};

}  // namespace platform
