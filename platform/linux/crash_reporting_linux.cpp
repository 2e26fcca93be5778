#include "platform/linux/crash_reporting_linux.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

namespace platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kPathMax = 4096;

// Filled before any fault; the handler only reads them.
char dumpPath[kPathMax];
char reporterPath[kPathMax];
char alternateStack[64 * 1024];

void writeText(int fd, const char* text) {
    ssize_t ignored = write(fd, text, strlen(text));
    (void)ignored;
}

void onFatalSignal(int signalNumber) {
    const int fd = open(dumpPath, O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0) {
        char line[64];
        // snprintf is not async-signal-safe; format the number by hand.
        int value = signalNumber;
        char digits[16];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0 && count < 15);
        size_t at = 0;
        for (const char* prefix = "signal "; *prefix; ++prefix)
            line[at++] = *prefix;
        while (count > 0)
            line[at++] = digits[--count];
        line[at++] = '\n';
        line[at] = '\0';
        writeText(fd, line);
        void* frames[64];
        const int depth = backtrace(frames, 64);
        backtrace_symbols_fd(frames, depth, fd);
        close(fd);
    }
    if (fork() == 0) {
        execl(reporterPath, reporterPath, dumpPath, static_cast<char*>(nullptr));
        _exit(127);
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

}  // namespace

std::string freshIdentifier() {
    std::random_device source;
    std::uniform_int_distribution<int> nibble(0, 15);
    static const char hex[] = "0123456789ABCDEF";
    std::string id;
    for (int group : {8, 4, 4, 4, 12}) {
        if (!id.empty())
            id += '-';
        for (int i = 0; i < group; ++i)
            id += hex[nibble(source)];
    }
    return id;
}

bool LinuxCrashReporting::start(const std::string& dumpFolder, const std::string& reporter) {
    std::string folder = dumpFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const std::string dump = folder + freshIdentifier() + ".dmp";
    if (dump.size() >= kPathMax || reporter.size() >= kPathMax)
        return false;
    std::memcpy(dumpPath, dump.c_str(), dump.size() + 1);
    std::memcpy(reporterPath, reporter.c_str(), reporter.size() + 1);

    // backtrace() loads its unwinder on first use; do it now, not inside the handler.
    void* warmUp[1];
    backtrace(warmUp, 1);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    if (sigaltstack(&stack, nullptr) != 0)
        return false;

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kFatalSignals) {
        if (sigaction(signalNumber, &action, nullptr) != 0)
            return false;
    }
    return true;
}

}  // namespace platform
