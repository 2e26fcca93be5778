#include "tools/updater/updater.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace updater {
namespace {

constexpr char kJournal[] = "journal.txt";
constexpr char kSavedFiles[] = "files";
constexpr std::uintmax_t kLogLimit = 1024 * 1024;

// What the journal records, each line written before the step it announces.
constexpr char kNoteFolder[] = "folder";        // a folder is created in the installation
constexpr char kNoteSaved[] = "saved";          // the old file is completely in the backup
constexpr char kNoteStaged[] = "staged";        // the new file is copied beside its target
constexpr char kNoteSwapping[] = "swapping";    // the new file replaces (or adds) the target
constexpr char kNoteCommitted[] = "committed";  // every new file is in place

std::string text(const fs::path& path) {
    return path.u8string();
}

fs::path below(const fs::path& folder, const std::string& name) {
    return folder / fs::u8path(name);
}

fs::path stagingPath(const fs::path& target) {
    fs::path staged = target;
    staged += kStagingSuffix;
    return staged;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool endsIgnoringCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           sameIgnoringCase(text.substr(text.size() - end.size()), end);
}

std::vector<std::string> parts(const std::string& name) {
    std::vector<std::string> found;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        found.push_back(name.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos)
            return found;
        start = slash + 1;
    }
}

bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// A link or junction, through which a write could land outside the installation.
bool isLink(const fs::path& path) {
#ifdef _WIN32
    // The standard library cannot tell links from what they name here.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
#endif
}

bool sameContent(const fs::path& one, const fs::path& other) {
    std::ifstream a(one, std::ios::binary);
    std::ifstream b(other, std::ios::binary);
    if (!a || !b)
        return false;
    char x[16 * 1024];
    char y[sizeof x];
    for (;;) {
        a.read(x, sizeof x);
        b.read(y, sizeof y);
        if (a.gcount() != b.gcount() || std::memcmp(x, y, static_cast<size_t>(a.gcount())) != 0)
            return false;
        if (a.gcount() < static_cast<std::streamsize>(sizeof x))
            return a.eof() && b.eof();
    }
}

// Asks the system to put the file's content on the disk, so that a rename or a journal line
// that follows never outlives the data it speaks of.
bool syncFile(const fs::path& path) {
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool synced = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return synced;
#else
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return synced;
#endif
}

// Runs `step` until it succeeds or `retryFor` has passed: a file of a client that is still
// ending cannot be replaced yet on Windows.
template <typename Step>
std::error_code retrying(const Options& options, Step step) {
    const auto deadline = std::chrono::steady_clock::now() + options.retryFor;
    for (;;) {
        std::error_code error;
        step(error);
        if (!error || std::chrono::steady_clock::now() >= deadline)
            return error;
        std::this_thread::sleep_for(options.retryEvery);
    }
}

class Journal {
  public:
    explicit Journal(const fs::path& file)
        : file_(file), out_(file, std::ios::app | std::ios::binary) {}
    bool note(const char* kind, const std::string& name) {
        out_ << kind << ' ' << name << '\n';
        out_.flush();
        return out_.good() && syncFile(file_);
    }
    // Windows deletes no file that is open.
    void close() { out_.close(); }

  private:
    fs::path file_;
    std::ofstream out_;
};

struct JournalNotes {
    std::map<std::string, std::set<std::string>> files;
    std::vector<std::string> folders;
    bool committed = false;
};

JournalNotes readJournal(const fs::path& backup) {
    JournalNotes notes;
    std::ifstream in(backup / kJournal, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;  // cut short by the end of the run
        const std::string kind = line.substr(0, space);
        const std::string name = line.substr(space + 1);
        if (kind == kNoteCommitted) {
            notes.committed = true;
            continue;
        }
        // The journal is a file like any other: it never leads outside the installation.
        if (!isInstallableName(name))
            continue;
        if (kind == kNoteFolder)
            notes.folders.push_back(name);
        else
            notes.files[name].insert(kind);
    }
    return notes;
}

// The backup goes, its journal first: without the journal the backup undoes nothing.
void removeBackup(const fs::path& installation, platform::ShellOperations& shell, Log& log,
                  const Options& options) {
    const fs::path backup = installation / kBackupFolder;
    const std::error_code error =
        retrying(options, [&](std::error_code& e) { fs::remove(backup / kJournal, e); });
    if (error)
        log.write("cannot remove the journal: " + error.message());
    if (!shell.deleteTree(text(backup)))
        log.write("cannot remove the backup folder");
}

// Puts back what the journal says was changed and removes the backup. False when an old file
// could not be put back: the backup then stays for the next run.
bool restore(const fs::path& installation, platform::ShellOperations& shell, Log& log,
             const Options& options) {
    const fs::path backup = installation / kBackupFolder;
    const JournalNotes journal = readJournal(backup);
    const auto& notes = journal.files;
    const auto& folders = journal.folders;

    bool whole = true;
    for (const auto& [name, kinds] : notes) {
        const fs::path target = below(installation, name);
        std::error_code error;
        if (kinds.count(kNoteStaged))
            fs::remove(stagingPath(target), error);
        if (!kinds.count(kNoteSwapping))
            continue;
        if (kinds.count(kNoteSaved)) {
            const fs::path saved = below(backup / kSavedFiles, name);
            // Put back by an earlier run, or never replaced.
            if (!present(saved) || sameContent(saved, target))
                continue;
            error = retrying(options, [&](std::error_code& e) { fs::rename(saved, target, e); });
            if (error) {
                log.write("cannot put back '" + name + "': " + error.message());
                whole = false;
            } else {
                log.write("put back " + name);
            }
        } else {
            error = retrying(options, [&](std::error_code& e) { fs::remove(target, e); });
            if (error) {
                log.write("cannot remove '" + name + "': " + error.message());
                whole = false;
            } else {
                log.write("removed " + name);
            }
        }
    }
    // Folders the update made, deepest first; only the empty ones go.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        std::error_code ignored;
        fs::remove(below(installation, *folder), ignored);
    }
    if (!whole)
        return false;
    removeBackup(installation, shell, log, options);
    return true;
}

void clearReady(const fs::path& installation, platform::ShellOperations& shell, Log& log) {
    if (!shell.deleteTree(text(below(installation, kReadyFolder))))
        log.write("cannot clear the ready folder");
    std::error_code ignored;
    fs::remove(installation / "tupdates" / "client", ignored);
    fs::remove(installation / "tupdates", ignored);
}

}  // namespace

Log::Log(fs::path file) : file_(std::move(file)) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file_, error);
    if (!error && size > kLogLimit)
        fs::remove(file_, error);
}

void Log::write(const std::string& line) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::ofstream out(file_, std::ios::app | std::ios::binary);
    out << stamp << ' ' << line << '\n';
}

fs::path installationFolder(const fs::path& workingFolder, const fs::path& programFolder) {
    std::vector<fs::path> candidates{workingFolder, programFolder};
    // Run from the ready folder itself when the installation needed the rights to write it.
    const fs::path ready = fs::u8path(kReadyFolder);
    fs::path above = programFolder;
    bool insideReady = true;
    for (auto part = std::make_reverse_iterator(ready.end());
         part != std::make_reverse_iterator(ready.begin()); ++part) {
        if (!above.has_relative_path() || !sameIgnoringCase(text(above.filename()), text(*part))) {
            insideReady = false;
            break;
        }
        above = above.parent_path();
    }
    if (insideReady)
        candidates.push_back(above);
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (fs::is_directory(candidate / ready, error) || present(candidate / kBackupFolder))
            return candidate;
    }
    for (const fs::path& candidate : candidates) {
        if (present(candidate / kClientProgram))
            return candidate;
    }
    return workingFolder;
}

bool isInstallableName(const std::string& name) {
    if (name.empty() || endsIgnoringCase(name, kStagingSuffix))
        return false;
    for (const unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ':')
            return false;
    }
    const std::vector<std::string> found = parts(name);
    for (const std::string& part : found) {
        if (part.empty() || part == "." || part == "..")
            return false;
    }
    const std::string& first = found.front();
    return !sameIgnoringCase(first, "tupdates") && !sameIgnoringCase(first, kBackupFolder) &&
           !sameIgnoringCase(first, kLogFile) && !sameIgnoringCase(first, kResultFile) &&
           !sameIgnoringCase(first, kLockFile);
}

void writeResult(const fs::path& installation, Outcome outcome, Log& log) {
    const fs::path result = installation / kResultFile;
    fs::path written = result;
    written += kStagingSuffix;
    {
        std::ofstream out(written, std::ios::binary | std::ios::trunc);
        out << resultWord(outcome) << '\n';
        out.flush();
        if (!out) {
            log.write("cannot write " + std::string(kResultFile));
            return;
        }
    }
    std::error_code error;
    if (!syncFile(written))
        error = std::make_error_code(std::errc::io_error);
    if (!error)
        fs::rename(written, result, error);
    if (error) {
        log.write("cannot write " + std::string(kResultFile) + ": " + error.message());
        fs::remove(written, error);
    }
}

InstallLock::InstallLock(const fs::path& installation, std::chrono::milliseconds waitFor) {
    const fs::path file = installation / kLockFile;
    const auto deadline = std::chrono::steady_clock::now() + waitFor;
    for (;;) {
#ifdef _WIN32
        // Opened without sharing: a second opener is refused until the first closes it.
        HANDLE opened = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened != INVALID_HANDLE_VALUE) {
            handle_ = opened;
            return;
        }
#else
        if (descriptor_ < 0)
            descriptor_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor_ >= 0 && ::flock(descriptor_, LOCK_EX | LOCK_NB) == 0)
            return;
        if (descriptor_ < 0 && errno != EINTR)
            return;
#endif
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
#ifndef _WIN32
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
#endif
}

InstallLock::~InstallLock() {
#ifdef _WIN32
    if (handle_)
        CloseHandle(handle_);
#else
    if (descriptor_ >= 0)
        ::close(descriptor_);  // lets the lock go
#endif
}

bool InstallLock::held() const {
#ifdef _WIN32
    return handle_ != nullptr;
#else
    return descriptor_ >= 0;
#endif
}

const char* resultWord(Outcome outcome) {
    switch (outcome) {
        case Outcome::Installed:
            return "installed";
        case Outcome::NothingToInstall:
            return "nothing";
        case Outcome::Refused:
            return "refused";
        case Outcome::Failed:
            return "failed";
        case Outcome::Damaged:
            return "damaged";
    }
    return "";
}

Outcome installFiles(const fs::path& installation, const fs::path& ready,
                     const std::vector<std::string>& names, platform::ShellOperations& shell,
                     Log& log, const Options& options) {
    for (const std::string& name : names) {
        if (!isInstallableName(name)) {
            log.write("refused '" + name + "': not a file of the installation");
            return Outcome::Refused;
        }
        fs::path path = installation;
        for (const std::string& part : parts(name)) {
            path /= fs::u8path(part);
            if (isLink(path)) {
                log.write("refused '" + name + "': " + text(path) + " is a link");
                return Outcome::Refused;
            }
        }
    }

    const fs::path backup = installation / kBackupFolder;
    std::error_code error;
    fs::create_directories(backup / kSavedFiles, error);
    if (error) {
        log.write("cannot create the backup folder: " + error.message());
        return Outcome::Failed;
    }
    Journal journal(backup / kJournal);
    const auto fail = [&](const std::string& why) {
        journal.close();
        log.write(why);
        log.write("rolling back");
        if (restore(installation, shell, log, options)) {
            log.write("the old installation is whole again");
            return Outcome::Failed;
        }
        log.write("the old installation could not be put back whole; the backup is kept");
        return Outcome::Damaged;
    };

    // Everything that can fail slowly or for want of space happens before the first old file
    // is touched.
    for (const std::string& name : names) {
        const std::vector<std::string> found = parts(name);
        std::string folder;
        for (size_t i = 0; i + 1 < found.size(); ++i) {
            folder += (folder.empty() ? "" : "/") + found[i];
            const fs::path path = below(installation, folder);
            const fs::file_status status = fs::symlink_status(path, error);
            if (fs::is_directory(status))
                continue;
            if (fs::exists(status))
                return fail("cannot create the folder '" + folder + "': a file is in its place");
            if (!journal.note(kNoteFolder, folder))
                return fail("cannot write the journal");
            if (!fs::create_directory(path, error) && error)
                return fail("cannot create the folder '" + folder + "': " + error.message());
        }
        const fs::path target = below(installation, name);
        const fs::file_status status = fs::symlink_status(target, error);
        if (fs::exists(status)) {
            if (!fs::is_regular_file(status))
                return fail("cannot replace '" + name + "': it is not a file");
            const fs::path saved = below(backup / kSavedFiles, name);
            fs::create_directories(saved.parent_path(), error);
            if (!error)
                fs::copy_file(target, saved, fs::copy_options::overwrite_existing, error);
            if (!error && !syncFile(saved))
                error = std::make_error_code(std::errc::io_error);
            if (error)
                return fail("cannot copy '" + name + "' aside: " + error.message());
            if (!journal.note(kNoteSaved, name))
                return fail("cannot write the journal");
        }
        if (!journal.note(kNoteStaged, name))
            return fail("cannot write the journal");
        fs::copy_file(below(ready, name), stagingPath(target), fs::copy_options::overwrite_existing,
                      error);
        if (!error && !syncFile(stagingPath(target)))
            error = std::make_error_code(std::errc::io_error);
        if (error)
            return fail("cannot copy the new '" + name + "': " + error.message());
    }

    for (const std::string& name : names) {
        if (!journal.note(kNoteSwapping, name))
            return fail("cannot write the journal");
        const fs::path target = below(installation, name);
        error = retrying(options,
                         [&](std::error_code& e) { fs::rename(stagingPath(target), target, e); });
        if (error)
            return fail("cannot replace '" + name + "': " + error.message());
        log.write("replaced " + name);
    }

    // From here on the update is finished, never undone: the result the client reads follows
    // the commit, so a run cut short in between is finished by the next one.
    if (!journal.note(kNoteCommitted, "all"))
        return fail("cannot write the journal");
    journal.close();
    writeResult(installation, Outcome::Installed, log);
    removeBackup(installation, shell, log, options);
    log.write("installed " + std::to_string(names.size()) + " files");
    return Outcome::Installed;
}

Outcome settleInterruptedUpdate(const fs::path& installation, platform::ShellOperations& shell,
                                Log& log, const Options& options) {
    const fs::path backup = installation / kBackupFolder;
    if (!present(backup))
        return Outcome::NothingToInstall;
    const JournalNotes journal = readJournal(backup);
    if (journal.committed) {
        log.write("finishing an update that was cut short after it was installed");
        for (const auto& [name, kinds] : journal.files) {
            std::error_code ignored;
            if (kinds.count(kNoteStaged))
                fs::remove(stagingPath(below(installation, name)), ignored);
        }
        writeResult(installation, Outcome::Installed, log);
        removeBackup(installation, shell, log, options);
        return Outcome::Installed;
    }
    log.write("undoing an update that was cut short");
    if (!restore(installation, shell, log, options)) {
        log.write("the old installation could not be put back whole; the backup is kept");
        return Outcome::Damaged;
    }
    return Outcome::Failed;
}

Outcome replaceClient(const fs::path& installation, platform::ShellOperations& shell, Log& log,
                      const Options& options) {
    const Outcome settled = settleInterruptedUpdate(installation, shell, log, options);
    if (settled == Outcome::Damaged)
        return settled;
    if (settled == Outcome::Installed) {
        clearReady(installation, shell, log);
        return settled;
    }
    const fs::path ready = below(installation, kReadyFolder);
    std::vector<platform::TreeEntry> entries;
    const int listed = shell.walkTree(text(ready), entries);
    if (listed == platform::kErrorPathNotFound) {
        log.write("nothing to install");
        return Outcome::NothingToInstall;
    }
    if (listed != platform::kErrorNone) {
        log.write("cannot read the ready folder, error " + std::to_string(listed));
        return Outcome::Failed;
    }
    std::vector<std::string> names;
    for (const platform::TreeEntry& entry : entries) {
        if (!entry.isFolder)
            names.push_back(entry.relativePath);
    }
    std::sort(names.begin(), names.end());
    Outcome outcome = Outcome::NothingToInstall;
    if (names.empty())
        log.write("the ready folder is empty");
    else
        outcome = installFiles(installation, ready, names, shell, log, options);
    if (outcome != Outcome::Failed && outcome != Outcome::Damaged)
        clearReady(installation, shell, log);
    return outcome;
}

}  // namespace updater
