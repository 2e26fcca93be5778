#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/crash_reporting_linux.h"

namespace fs = std::filesystem;

namespace {

fs::path freshFolder() {
    const fs::path folder = fs::temp_directory_path() / ("crash-" + platform::freshIdentifier());
    fs::create_directories(folder);
    return folder;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CrashReporting, FaultWritesADumpAndStartsTheReporter) {
    const fs::path folder = freshFolder();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::LinuxCrashReporting reporting;
        if (!reporting.start(folder.string(), VELMORA_APP_DIR "/CrashReporter"))
            _exit(3);
        raise(SIGSEGV);
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    fs::path dump;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".dmp")
            dump = entry.path();
    }
    ASSERT_FALSE(dump.empty());
    EXPECT_EQ(dump.stem().string().size(), 36u);
    EXPECT_EQ(readFile(dump).rfind("signal 11\n", 0), 0u);

    // The reporter runs on after the crashed process is gone.
    const fs::path log = folder / "crashes.log";
    for (int i = 0; i < 100 && readFile(log).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(readFile(log).find(dump.filename().string()), std::string::npos);
    fs::remove_all(folder);
}

TEST(CrashReporting, IdentifiersAreFresh) {
    const std::string a = platform::freshIdentifier();
    EXPECT_EQ(a.size(), 36u);
    EXPECT_EQ(a[8], '-');
    EXPECT_NE(a, platform::freshIdentifier());
}

}  // namespace
