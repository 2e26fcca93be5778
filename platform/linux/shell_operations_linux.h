#pragma once

#include "platform/shell_operations.h"

namespace platform {

// The shell operations with POSIX calls and the Windows results: errno values become the
// Windows error numbers (ENOENT is 2 when the folder holding the path exists and 3 when it does
// not; EACCES, EPERM and EISDIR 5; EEXIST 183; ENOTDIR 3; EBUSY and ETXTBSY 32, a sharing
// violation; ENOSPC 112; ENAMETOOLONG 206; ELOOP 1921; anything else 31).
//
// Symbolic links are never followed below a tree: deleteTree removes a link, not what it points
// to, and walkTree leaves links (and sockets, pipes and devices) out. A folder's entries are
// walked in byte order of their names.
//
// execute starts the program detached from the caller (no zombie is left behind), with every
// descriptor above 2 closed, the working folder as its current folder and `arguments` split as
// a Windows command line is. The program is looked up in PATH when its name holds no "/".
// Results: 42 when it started, as ShellExecute commonly answers; 2 program not found, 3 working
// folder not found, 5 access denied, 8 out of memory or processes, 11 not an executable, 0
// anything else. Linux has no "runas" verb that works without a desktop agent, so `elevated`
// starts the program with the caller's own rights.
class LinuxShellOperations final : public ShellOperations {
  public:
    bool deleteTree(const std::string& path) override;
    int walkTree(const std::string& root, std::vector<TreeEntry>& entries) override;
    int createFolder(const std::string& path) override;
    int copyFile(const std::string& source, const std::string& target) override;
    long execute(const std::string& program, const std::string& arguments,
                 const std::string& workingFolder, bool elevated) override;
};

}  // namespace platform
