#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tools/updater/updater.h"

#ifdef _WIN32
#include "platform/win32/shell_operations.h"
using SystemShellOperations = platform::Win32ShellOperations;
#else
#include "platform/linux/shell_operations_linux.h"
using SystemShellOperations = platform::LinuxShellOperations;
#endif

namespace fs = std::filesystem;

// An installation folder of its own below a fresh temporary folder, which also holds what
// lies outside the installation.
class UpdaterTest : public testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("updater test " + std::to_string(now) + "-" + std::to_string(++counter));
        installation_ = root_ / "install";
        fs::create_directories(installation_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path installed(const std::string& name) const { return installation_ / fs::u8path(name); }
    fs::path readyFolder() const { return installation_ / fs::u8path(updater::kReadyFolder); }
    fs::path staged(const std::string& name) const { return readyFolder() / fs::u8path(name); }

    static void write(const fs::path& file, const std::string& content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    static std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Every file below `folder` and its content, by "/"-separated name; the updater's log
    // left out.
    static std::map<std::string, std::string> files(const fs::path& folder) {
        std::map<std::string, std::string> found;
        if (!fs::exists(folder))
            return found;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            const std::string name = fs::relative(entry.path(), folder).generic_u8string();
            if (fs::is_regular_file(fs::symlink_status(entry.path())) &&
                entry.path().filename() != updater::kLogFile) {
                found[name] = read(entry.path());
            }
        }
        return found;
    }

    std::string logText() const { return read(installation_ / updater::kLogFile); }

    updater::Outcome replaceClient(std::chrono::milliseconds retryFor) {
        updater::Log log(installation_ / updater::kLogFile);
        updater::Options options;
        options.retryFor = retryFor;
        options.retryEvery = std::chrono::milliseconds(20);
        return updater::replaceClient(installation_, shell_, log, options);
    }

    fs::path root_;
    fs::path installation_;
    SystemShellOperations shell_;
};
