#pragma once

// The shell's file operations and program start that the update system uses (Windows:
// SHFileOperationW, ShellExecuteW, FindFirstFileExW, CreateDirectoryW, CopyFileW). Paths are
// UTF-8; results are the system's own error numbers so callers can tell the cases the update
// steps distinguish. Callable from any thread. Standard C++ only.

#include <string>
#include <vector>

namespace platform {

// Error numbers as Windows gives them; the other backends translate to these.
constexpr int kErrorNone = 0;
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorNoMoreFiles = 18;
constexpr int kErrorAlreadyExists = 183;

struct TreeEntry {
    std::string relativePath;  // below the walked root, "/" separated
    bool isFolder = false;
};

class ShellOperations {
  public:
    virtual ~ShellOperations() = default;

    // Deletes a file or a folder with everything in it: no confirmation, no progress window,
    // no error dialogs, not to the recycle bin. True when nothing is left at `path`.
    virtual bool deleteTree(const std::string& path) = 0;

    // Every folder and file below `root`, breadth-first (a folder's entries before those of its
    // sub-folders). kErrorNone, or the error of the first folder that could not be listed
    // (kErrorPathNotFound when `root` does not exist).
    virtual int walkTree(const std::string& root, std::vector<TreeEntry>& entries) = 0;

    // kErrorNone, kErrorAlreadyExists, or another error.
    virtual int createFolder(const std::string& path) = 0;

    // Copies over an existing target. kErrorNone or the error (kErrorAccessDenied, ...).
    virtual int copyFile(const std::string& source, const std::string& target) = 0;

    // Starts `program` with `arguments` in `workingFolder` (none when empty), in a normal
    // window, elevated when asked. The ShellExecute-style result: above 32 is success.
    virtual long execute(const std::string& program, const std::string& arguments,
                         const std::string& workingFolder, bool elevated) = 0;
};

}  // namespace platform
