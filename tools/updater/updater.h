#pragma once

// The client's own updater: replaces the installed client with the files the client staged in
// its ready folder, all of them or none. Plain C++17, no Qt: it runs while the client is gone.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/shell_operations.h"

namespace updater {

#ifdef _WIN32
inline constexpr char kClientProgram[] = "velmora.exe";
#else
inline constexpr char kClientProgram[] = "velmora";
#endif

// Below the installation folder.
inline constexpr char kReadyFolder[] = "tupdates/client/ready";
inline constexpr char kBackupFolder[] = "updater-backup";
inline constexpr char kLogFile[] = "updater.log";
// What the last run came to, one word (see resultWord), for the client's next start.
inline constexpr char kResultFile[] = "updater.result";
// Beside each file being replaced while its new content waits to be swapped in.
inline constexpr char kStagingSuffix[] = ".updater-new";
// Held by whoever installs or settles an update, so that no two ever work at once.
inline constexpr char kLockFile[] = "updater.lock";

// Dated lines appended to a file; a log past 1 MiB starts afresh.
class Log {
  public:
    explicit Log(std::filesystem::path file);
    void write(const std::string& line);

  private:
    std::filesystem::path file_;
};

struct Options {
    // How long a file that is in use (the client still ending) is tried again.
    std::chrono::milliseconds retryFor{30000};
    std::chrono::milliseconds retryEvery{100};
};

enum class Outcome {
    Installed,         // the new files are in place and the ready folder is cleared
    NothingToInstall,  // no ready folder
    Refused,           // the ready folder holds what may not be installed; nothing changed
    Failed,            // the update could not be made; the old installation is whole
    Damaged,           // the old files could not all be put back; the backup is kept
};

// "installed", "nothing", "refused", "failed" or "damaged".
const char* resultWord(Outcome outcome);

// Writes the result word for the client's next start: the whole file or none, on the disk
// before this returns.
void writeResult(const std::filesystem::path& installation, Outcome outcome, Log& log);

// The installation's lock, held from construction (waiting up to `waitFor` for another holder)
// until destruction; the system lets it go when the holder dies.
class InstallLock {
  public:
    InstallLock(const std::filesystem::path& installation, std::chrono::milliseconds waitFor);
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    bool held() const;

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int descriptor_ = -1;
#endif
};

// The installation the updater serves: the working folder or the updater's own folder (or,
// when it runs from the ready folder, the installation holding that), whichever holds an update
// or an interrupted one, else whichever holds the client, else the working folder.
std::filesystem::path installationFolder(const std::filesystem::path& workingFolder,
                                         const std::filesystem::path& programFolder);

// Whether a "/"-separated name may be written below the installation: relative, no "." or
// ".." parts, no drive, no backslash or control characters, and none of the updater's own
// files and folders.
bool isInstallableName(const std::string& name);

// Installs the files `names` (relative to `ready`) into `installation`. Every old file is
// first copied aside into the backup folder, and every new one copied beside its target, each
// on the disk before the journal notes it; only then are the new files swapped in. Any failure
// puts every old file back. Once the last file is in, the journal notes the update as
// committed and the result is written; an update cut short is finished from there, or undone
// before it, by settleInterruptedUpdate.
Outcome installFiles(const std::filesystem::path& installation, const std::filesystem::path& ready,
                     const std::vector<std::string>& names, platform::ShellOperations& shell,
                     Log& log, const Options& options = {});

// Finishes an update whose journal says it was committed (the result "installed" is written)
// or puts back every old file of one that was not, so the installation is wholly new or wholly
// old. NothingToInstall when no update was interrupted; Installed, Failed (undone) or Damaged.
// The caller holds the lock.
Outcome settleInterruptedUpdate(const std::filesystem::path& installation,
                                platform::ShellOperations& shell, Log& log,
                                const Options& options = {});

// The whole run: settles an interrupted update, installs the ready folder's files and clears the
// ready folder (and the update folders it leaves empty) after an installation or a refusal.
// After a failure the ready folder stays for another try. Links in the ready folder are
// neither followed nor installed.
Outcome replaceClient(const std::filesystem::path& installation, platform::ShellOperations& shell,
                      Log& log, const Options& options = {});

}  // namespace updater
