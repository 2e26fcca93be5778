#include "platform/linux/shell_operations_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <utility>

namespace platform {
namespace {

// Windows error numbers the backend answers besides those of the interface.
constexpr int kErrorSharingViolation = 32;
constexpr int kErrorGenFailure = 31;
constexpr int kErrorDiskFull = 112;
constexpr int kErrorFilenameTooLong = 206;
constexpr int kErrorCantResolveFilename = 1921;

// ShellExecute's answers.
constexpr long kExecuteStarted = 42;
constexpr long kExecuteFailed = 0;
constexpr long kExecuteFileNotFound = 2;
constexpr long kExecutePathNotFound = 3;
constexpr long kExecuteAccessDenied = 5;
constexpr long kExecuteOutOfMemory = 8;
constexpr long kExecuteBadFormat = 11;

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string parentOf(const std::string& path) {
    const std::string trimmed = withoutTrailingSlashes(path);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : trimmed.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::string trimmed = withoutTrailingSlashes(path);
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool isFolder(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// `path` is the one the failed call named: Windows tells a missing file (2) from a missing
// folder on the way to it (3).
int windowsError(int error, const std::string& path) {
    switch (error) {
        case 0:
            return kErrorNone;
        case ENOENT:
            return isFolder(parentOf(path)) ? kErrorFileNotFound : kErrorPathNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorAlreadyExists;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ELOOP:
            return kErrorCantResolveFilename;
        default:
            return kErrorGenFailure;
    }
}

// Removes `name` below the open folder `parent`; links are removed, never followed.
bool removeBelow(int parent, const char* name) {
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    DIR* listing = ::fdopendir(folder);
    if (listing == nullptr) {
        ::close(folder);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..")
            names.push_back(entryName);
    }
    bool removed = true;
    for (const std::string& entryName : names)
        removed = removeBelow(::dirfd(listing), entryName.c_str()) && removed;
    ::closedir(listing);
    return removed && (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

// The folders and files of one folder of a walk, by name.
int listFolder(int root, const std::string& relative,
               std::vector<std::pair<std::string, bool>>& found, const std::string& rootPath) {
    const std::string path = relative.empty() ? rootPath : rootPath + "/" + relative;
    const int folder = ::openat(root, relative.empty() ? "." : relative.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return windowsError(errno, path);
    DIR* listing = ::fdopendir(folder);
    if (listing == nullptr) {
        const int error = errno;
        ::close(folder);
        return windowsError(error, path);
    }
    int result = kErrorNone;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            if (errno != 0)
                result = windowsError(errno, path);
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat status;
            if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR || type == DT_REG)
            found.emplace_back(name, type == DT_DIR);
    }
    ::closedir(listing);
    std::sort(found.begin(), found.end());
    return result;
}

// The arguments of a Windows command line: blanks separate them outside quotes, 2n
// backslashes before a quote stand for n and the quote opens or closes a quoted part, 2n + 1
// stand for n and a literal quote, "" within a quoted part is a literal quote, and other
// backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t count = 0;
            while (i < line.size() && line[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current.push_back('"');
                    ++i;
                }
            } else {
                current.append(count, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                current.push_back('"');
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            current.push_back(c);
            ++i;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

// The file exec will run: a name without "/" is looked up in PATH, a relative path is taken
// from the caller's folder (the program then changes folder). Empty when there is none.
std::string programPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        if (program.front() == '/')
            return program;
        char folder[PATH_MAX];
        if (::getcwd(folder, sizeof folder) == nullptr)
            return {};
        return std::string(folder) + "/" + program;
    }
    const char* searchPath = std::getenv("PATH");
    const std::string folders = searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = folders.find(':', start);
        std::string folder =
            folders.substr(start, colon == std::string::npos ? colon : colon - start);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + program;
        struct stat status;
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos)
            return {};
        start = colon + 1;
    }
}

long executeError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kExecuteFileNotFound;
        case EACCES:
        case EPERM:
            return kExecuteAccessDenied;
        case ENOMEM:
        case EAGAIN:
            return kExecuteOutOfMemory;
        case ENOEXEC:
        case ELIBBAD:
            return kExecuteBadFormat;
        default:
            return kExecuteFailed;
    }
}

void report(int channel, int error) {
    const ssize_t ignored = ::write(channel, &error, sizeof error);
    (void)ignored;
}

}  // namespace

bool LinuxShellOperations::deleteTree(const std::string& path) {
    const std::string name = nameOf(path);
    if (path.empty() || name.empty() || name == "/" || name == "." || name == "..")
        return false;
    const int parent = ::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return errno == ENOENT || errno == ENOTDIR;
    removeBelow(parent, name.c_str());
    struct stat status;
    const bool gone =
        ::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    ::close(parent);
    return gone;
}

int LinuxShellOperations::walkTree(const std::string& root, std::vector<TreeEntry>& entries) {
    entries.clear();
    if (root.empty())
        return kErrorPathNotFound;
    const int rootFolder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFolder < 0)
        return errno == ENOENT ? kErrorPathNotFound : windowsError(errno, root);
    const std::string rootPath = withoutTrailingSlashes(root);
    std::deque<std::string> folders{std::string()};
    int result = kErrorNone;
    while (!folders.empty() && result == kErrorNone) {
        const std::string folder = folders.front();
        folders.pop_front();
        std::vector<std::pair<std::string, bool>> found;
        result = listFolder(rootFolder, folder, found, rootPath);
        for (const auto& [name, isSubFolder] : found) {
            TreeEntry entry;
            entry.relativePath = folder.empty() ? name : folder + "/" + name;
            entry.isFolder = isSubFolder;
            if (isSubFolder)
                folders.push_back(entry.relativePath);
            entries.push_back(std::move(entry));
        }
    }
    ::close(rootFolder);
    return result;
}

int LinuxShellOperations::createFolder(const std::string& path) {
    if (path.empty())
        return kErrorPathNotFound;
    if (::mkdir(path.c_str(), 0777) == 0)
        return kErrorNone;
    return errno == ENOENT ? kErrorPathNotFound : windowsError(errno, path);
}

// The copy is written beside the target and renamed over it, so the target is never seen
// half-written. A read-only target is refused as Windows refuses it.
int LinuxShellOperations::copyFile(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty())
        return kErrorPathNotFound;
    // Non-blocking, so that a pipe in the place of the source cannot stall the copy.
    const int input = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (input < 0)
        return windowsError(errno, source);
    struct stat sourceStatus;
    if (::fstat(input, &sourceStatus) != 0 || !S_ISREG(sourceStatus.st_mode)) {
        ::close(input);
        return kErrorAccessDenied;
    }
    struct stat targetStatus;
    if (::lstat(target.c_str(), &targetStatus) == 0) {
        if (S_ISDIR(targetStatus.st_mode) ||
            (S_ISREG(targetStatus.st_mode) && ::access(target.c_str(), W_OK) != 0)) {
            ::close(input);
            return kErrorAccessDenied;
        }
    }
    std::string temporary = parentOf(target) + "/.velmora-copy-XXXXXX";
    const int output = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (output < 0) {
        const int error = errno;
        ::close(input);
        return windowsError(error, target);
    }
    int error = 0;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t written = 0; written < got && error == 0;) {
            const ssize_t put =
                ::write(output, buffer + written, static_cast<size_t>(got - written));
            if (put < 0 && errno != EINTR)
                error = errno;
            else if (put > 0)
                written += put;
        }
        if (error != 0)
            break;
    }
    ::close(input);
    if (error == 0 && ::fchmod(output, sourceStatus.st_mode & 07777) != 0)
        error = errno;
    if (::close(output) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return windowsError(error, target);
    }
    return kErrorNone;
}

long LinuxShellOperations::execute(const std::string& program, const std::string& arguments,
                                   const std::string& workingFolder, bool /*elevated*/) {
    if (program.empty())
        return kExecuteFileNotFound;
    const std::string path = programPath(program);
    if (path.empty())
        return kExecuteFileNotFound;
    if (!workingFolder.empty() && !isFolder(workingFolder))
        return kExecutePathNotFound;

    // Everything the children use is made here: between fork and exec only async-signal-safe
    // calls are allowed.
    std::vector<std::string> words = splitCommandLine(arguments);
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int descriptorLimit = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigset_t noSignals;
    sigemptyset(&noSignals);

    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return kExecuteOutOfMemory;
    // The program is started by a short-lived intermediate child, so that it is nobody's child
    // here and its end needs no waiting for.
    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return kExecuteOutOfMemory;
    }
    if (intermediate == 0) {
        ::close(channel[0]);
        if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) {
            report(channel[1], errno);
            ::_exit(1);
        }
        ::setsid();
        const pid_t started = ::fork();
        if (started < 0) {
            report(channel[1], errno);
            ::_exit(1);
        }
        if (started == 0) {
            if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
                for (int descriptor = 3; descriptor < descriptorLimit; ++descriptor)
                    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
            }
            for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
                ::sigaction(signalNumber, &defaultAction, nullptr);
            ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
            ::execv(path.c_str(), argv.data());
            report(channel[1], errno);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    // The channel closes without a word when exec succeeded.
    int error = 0;
    ssize_t got;
    do {
        got = ::read(channel[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(channel[0]);
    if (got == static_cast<ssize_t>(sizeof error))
        return error == ENOENT && !workingFolder.empty() && !isFolder(workingFolder)
                   ? kExecutePathNotFound
                   : executeError(error);
    return kExecuteStarted;
}

}  // namespace platform
