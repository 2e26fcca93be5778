// Updater -update [client process id]
//
// Started by the client as it quits, in the installation folder: waits for the client to end,
// installs the client update staged in the ready folder and starts the client again. Exit
// status 0 when the update was installed or there was none, 1 when it could not be, 2 on a
// wrong command line.

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "tools/updater/updater.h"

#ifdef _WIN32
#include "platform/win32/shell_operations.h"
using SystemShellOperations = platform::Win32ShellOperations;
#else
#include "platform/linux/shell_operations_linux.h"
using SystemShellOperations = platform::LinuxShellOperations;
#endif

namespace fs = std::filesystem;

namespace {

// Longer than any client takes to shut down; past it the replacing retries take over.
constexpr std::chrono::seconds kClientExitWait{30};

fs::path programFolder() {
#ifdef _WIN32
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return fs::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
#else
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path();
#endif
}

// False when the process was still there when the wait ended.
bool waitForExit(unsigned long processId) {
#ifdef _WIN32
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
    if (process == nullptr)
        return true;
    const DWORD waited = WaitForSingleObject(
        process, static_cast<DWORD>(std::chrono::milliseconds(kClientExitWait).count()));
    CloseHandle(process);
    return waited != WAIT_TIMEOUT;
#else
    const auto deadline = std::chrono::steady_clock::now() + kClientExitWait;
    while (::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
#endif
}

// A positive process id, or 0.
unsigned long processIdArgument(const char* text) {
    if (text[0] < '0' || text[0] > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > INT_MAX)
        return 0;
    return value;
}

const char* outcomeText(updater::Outcome outcome) {
    switch (outcome) {
        case updater::Outcome::Installed:
            return "the update is installed";
        case updater::Outcome::NothingToInstall:
            return "there was no update to install";
        case updater::Outcome::Refused:
            return "the update was refused";
        case updater::Outcome::Failed:
            return "the update failed; the old client stays";
        case updater::Outcome::Damaged:
            return "the update failed and the old client could not be put back whole";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) != "-update") {
        std::fprintf(stderr, "usage: Updater -update [client process id]\n");
        return 2;
    }
    std::error_code error;
    const fs::path workingFolder = fs::current_path(error);
    const fs::path installation = updater::installationFolder(workingFolder, programFolder());
    updater::Log log(installation / updater::kLogFile);
    log.write("updating the client in " + installation.u8string());

    if (argc == 3) {
        const unsigned long client = processIdArgument(argv[2]);
        if (client == 0)
            log.write(std::string("ignored the process id '") + argv[2] + "'");
        else if (!waitForExit(client))
            log.write("the client (process " + std::to_string(client) + ") is still running");
    }

    SystemShellOperations shell;
    updater::Outcome outcome = updater::Outcome::Failed;
    {
        // A client that starts meanwhile waits for this run rather than settling it.
        const updater::InstallLock lock(installation, kClientExitWait);
        if (lock.held())
            outcome = updater::replaceClient(installation, shell, log);
        else
            log.write("another update is at work here");
        log.write(outcomeText(outcome));
        // Read by the client as it starts: only an installed update changes its recorded
        // version, and that result was written as the update was committed.
        if (outcome != updater::Outcome::Installed)
            updater::writeResult(installation, outcome, log);
    }

    const fs::path client = installation / updater::kClientProgram;
    const long started = shell.execute(client.u8string(), "", installation.u8string(), false);
    if (started > 32)
        log.write("started " + client.u8string());
    else
        log.write("cannot start " + client.u8string() + ", result " + std::to_string(started));
    return outcome == updater::Outcome::Installed || outcome == updater::Outcome::NothingToInstall
               ? 0
               : 1;
}
