#include "platform/win32/shell_operations.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <deque>

#include "platform/win32/text.h"

namespace platform {
namespace {

#ifndef IO_REPARSE_TAG_LX_SYMLINK
#define IO_REPARSE_TAG_LX_SYMLINK 0xA000001DL
#endif

std::wstring nativePath(const std::string& path) {
    std::wstring wide = win32::toWide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':')
        path.pop_back();
    return path;
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return {};
    full.resize(length);
    return full;
}

// A link to somewhere else, which a walk must not take into the tree.
bool isLink(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
            entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
            entry.dwReserved0 == IO_REPARSE_TAG_LX_SYMLINK);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isDot(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

bool nothingAt(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Removes every link below `folder` on its own, so the shell's delete meets none of them.
void removeLinksBelow(const std::wstring& folder) {
    std::deque<std::wstring> folders{folder};
    while (!folders.empty()) {
        const std::wstring current = folders.front();
        folders.pop_front();
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileExW((current + L"\\*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (isDot(entry.cFileName))
                continue;
            const std::wstring path = current + L"\\" + entry.cFileName;
            const bool folderEntry = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (isLink(entry)) {
                if (folderEntry)
                    RemoveDirectoryW(path.c_str());
                else
                    DeleteFileW(path.c_str());
            } else if (folderEntry) {
                folders.push_back(path);
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
}

// Initialises COM for the shell's verbs on this thread unless it already is.
class ComScope {
  public:
    ComScope()
        : initialised_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComScope() {
        if (initialised_)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool initialised_;
};

}  // namespace

bool Win32ShellOperations::deleteTree(const std::string& path) {
    const std::wstring wide = nativePath(path);
    if (wide.empty() || wide.find_first_of(L"*?") != std::wstring::npos)
        return false;
    // The shell wants full paths; a drive or share root is never a tree to delete.
    const std::wstring full = withoutTrailingSeparators(fullPath(wide));
    if (full.empty() || PathIsRootW(full.c_str()))
        return false;
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return nothingAt(full);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The link itself, whatever it names.
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(full.c_str());
        else
            DeleteFileW(full.c_str());
        return nothingAt(full);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        removeLinksBelow(full);
    std::wstring from = full;
    from.push_back(L'\0');  // the list ends with two
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&operation);
    return nothingAt(full);
}

int Win32ShellOperations::walkTree(const std::string& root, std::vector<TreeEntry>& entries) {
    entries.clear();
    std::wstring base = nativePath(root);
    if (base.empty())
        return kErrorPathNotFound;
    base = withoutTrailingSeparators(base);
    if (base.back() != L'\\')
        base.push_back(L'\\');
    std::deque<std::wstring> folders{std::wstring()};
    while (!folders.empty()) {
        const std::wstring folder = folders.front();
        folders.pop_front();
        const std::wstring prefix = folder.empty() ? std::wstring() : folder + L"\\";
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileExW((base + prefix + L"*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            // An empty drive root lists nothing at all, not even "." and "..".
            if (error == ERROR_FILE_NOT_FOUND && isFolder(base + prefix))
                continue;
            // Whatever the system says of a root that is missing or a file.
            if (folder.empty() && !isFolder(base))
                return kErrorPathNotFound;
            return static_cast<int>(error);
        }
        do {
            if (isDot(entry.cFileName) || isLink(entry))
                continue;
            const std::wstring relative = prefix + entry.cFileName;
            TreeEntry found;
            found.isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            found.relativePath = win32::toUtf8(relative);
            std::replace(found.relativePath.begin(), found.relativePath.end(), '\\', '/');
            if (found.isFolder)
                folders.push_back(relative);
            entries.push_back(std::move(found));
        } while (FindNextFileW(find, &entry));
        const DWORD error = GetLastError();
        FindClose(find);
        if (error != ERROR_NO_MORE_FILES)
            return static_cast<int>(error);
    }
    return kErrorNone;
}

int Win32ShellOperations::createFolder(const std::string& path) {
    const std::wstring wide = nativePath(path);
    if (wide.empty())
        return kErrorPathNotFound;
    return CreateDirectoryW(wide.c_str(), nullptr) ? kErrorNone : static_cast<int>(GetLastError());
}

int Win32ShellOperations::copyFile(const std::string& source, const std::string& target) {
    const std::wstring from = nativePath(source);
    const std::wstring to = nativePath(target);
    if (from.empty() || to.empty())
        return kErrorPathNotFound;
    return CopyFileW(from.c_str(), to.c_str(), FALSE) ? kErrorNone
                                                      : static_cast<int>(GetLastError());
}

long Win32ShellOperations::execute(const std::string& program, const std::string& arguments,
                                   const std::string& workingFolder, bool elevated) {
    const std::wstring file = nativePath(program);
    const std::wstring parameters = win32::toWide(arguments);
    const std::wstring folder = nativePath(workingFolder);
    // A program may be a document whose verb a shell extension carries out.
    ComScope com;
    const HINSTANCE result =
        ShellExecuteW(nullptr, elevated ? L"runas" : nullptr, file.c_str(),
                      parameters.empty() ? nullptr : parameters.c_str(),
                      folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
    return static_cast<long>(reinterpret_cast<INT_PTR>(result));
}

}  // namespace platform
