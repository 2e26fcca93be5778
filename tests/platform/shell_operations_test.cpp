#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/crash_reporting_linux.h"
#include "platform/linux/shell_operations_linux.h"
#include "platform/services.h"

namespace fs = std::filesystem;

namespace {

class ShellOperations : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("shell ops " + platform::freshIdentifier());
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string path(const std::string& relative) const { return (folder_ / relative).string(); }

    void write(const std::string& relative, const std::string& content) const {
        fs::create_directories(fs::path(path(relative)).parent_path());
        std::ofstream(path(relative), std::ios::binary) << content;
    }

    std::string read(const std::string& relative) const {
        std::ifstream in(path(relative), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A shell script that records its folder and its arguments, one a line, in "ran.txt";
    // once a file "go" is there, when `waits`.
    std::string recorder(const std::string& relative, bool waits = false) const {
        write(relative,
              std::string("#!/bin/sh\n") +
                  (waits ? "i=0; while [ ! -e go ] && [ $i -lt 500 ]; do sleep 0.02; "
                           "i=$((i+1)); done\n"
                         : "") +
                  "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > ran.tmp\n"
                  "mv ran.tmp ran.txt\n");
        fs::permissions(path(relative), fs::perms::owner_all);
        return path(relative);
    }

    // What a started program wrote, once it has written it (the start does not wait for it).
    std::string awaitFile(const std::string& relative) const {
        for (int i = 0; i < 500 && !fs::exists(path(relative)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return read(relative);
    }

    fs::path folder_;
    platform::LinuxShellOperations shell_;
};

TEST_F(ShellOperations, DeleteTreeRemovesEverythingButWhatLinksPointTo) {
    write("outside/keep.txt", "kept");
    write("tree/a.txt", "a");
    write("tree/sub/deeper/b.txt", "b");
    fs::create_directory_symlink(path("outside"), path("tree/sub/link"));
    fs::create_symlink(path("outside/keep.txt"), path("tree/file link"));

    EXPECT_TRUE(shell_.deleteTree(path("tree")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("tree"))));
    EXPECT_EQ(read("outside/keep.txt"), "kept");

    // A link named as the tree goes, not the folder it names.
    fs::create_directory_symlink(path("outside"), path("alias"));
    EXPECT_TRUE(shell_.deleteTree(path("alias/")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("alias"))));
    EXPECT_EQ(read("outside/keep.txt"), "kept");

    write("single.txt", "x");
    EXPECT_TRUE(shell_.deleteTree(path("single.txt")));
    EXPECT_FALSE(fs::exists(path("single.txt")));
}

TEST_F(ShellOperations, DeleteTreeAnswersWhetherAnythingIsLeft) {
    EXPECT_TRUE(shell_.deleteTree(path("never there")));
    EXPECT_TRUE(shell_.deleteTree(path("no folder/never there")));
    // Paths that name no single entry are refused rather than guessed at.
    write("a/b.txt", "b");
    EXPECT_FALSE(shell_.deleteTree(""));
    EXPECT_FALSE(shell_.deleteTree(path("a/..")));
    EXPECT_FALSE(shell_.deleteTree(path("a/.")));
    EXPECT_EQ(read("a/b.txt"), "b");
}

TEST_F(ShellOperations, WalkTreeListsFolderAfterFolderWithoutFollowingLinks) {
    write("outside/secret.txt", "s");
    write("root/b.txt", "b");
    write("root/a/x.txt", "x");
    write("root/a/deep/y.txt", "y");
    write("root/c/z.txt", "z");
    fs::create_directory_symlink(path("outside"), path("root/a/link"));
    fs::create_symlink(path("outside/secret.txt"), path("root/c/secret.txt"));
    ASSERT_EQ(::mkfifo(path("root/pipe").c_str(), 0600), 0);

    std::vector<platform::TreeEntry> entries{{"stale", false}};
    ASSERT_EQ(shell_.walkTree(path("root") + "/", entries), platform::kErrorNone);
    std::vector<std::pair<std::string, bool>> seen;
    for (const auto& entry : entries)
        seen.emplace_back(entry.relativePath, entry.isFolder);
    const std::vector<std::pair<std::string, bool>> expected{{"a", true},
                                                             {"b.txt", false},
                                                             {"c", true},
                                                             {"a/deep", true},
                                                             {"a/x.txt", false},
                                                             {"c/z.txt", false},
                                                             {"a/deep/y.txt", false}};
    EXPECT_EQ(seen, expected);
}

TEST_F(ShellOperations, WalkTreeOfAMissingRootIsPathNotFound) {
    std::vector<platform::TreeEntry> entries;
    EXPECT_EQ(shell_.walkTree(path("missing"), entries), platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.walkTree("", entries), platform::kErrorPathNotFound);
    write("file.txt", "f");
    EXPECT_EQ(shell_.walkTree(path("file.txt"), entries), platform::kErrorPathNotFound);
    EXPECT_TRUE(entries.empty());

    fs::create_directory(path("empty"));
    EXPECT_EQ(shell_.walkTree(path("empty"), entries), platform::kErrorNone);
    EXPECT_TRUE(entries.empty());
}

TEST_F(ShellOperations, CreateFolderAnswersAsCreateDirectory) {
    EXPECT_EQ(shell_.createFolder(path("new")), platform::kErrorNone);
    EXPECT_TRUE(fs::is_directory(path("new")));
    EXPECT_EQ(shell_.createFolder(path("new")), platform::kErrorAlreadyExists);
    write("file", "f");
    EXPECT_EQ(shell_.createFolder(path("file")), platform::kErrorAlreadyExists);
    EXPECT_EQ(shell_.createFolder(path("missing/new")), platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.createFolder(path("file/new")), platform::kErrorPathNotFound);
}

TEST_F(ShellOperations, CopyFileReplacesTheTargetWithTheSourceAndItsMode) {
    write("source.bin", std::string("new\0content", 11));
    fs::permissions(path("source.bin"), fs::perms::owner_read | fs::perms::owner_exec);
    write("target.bin", "old content that is longer");
    EXPECT_EQ(shell_.copyFile(path("source.bin"), path("target.bin")), platform::kErrorNone);
    EXPECT_EQ(read("target.bin"), std::string("new\0content", 11));
    EXPECT_EQ(fs::status(path("target.bin")).permissions(),
              fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_EQ(shell_.copyFile(path("source.bin"), path("fresh.bin")), platform::kErrorNone);
    EXPECT_EQ(read("fresh.bin"), std::string("new\0content", 11));

    // Onto itself: nothing is lost.
    EXPECT_EQ(shell_.copyFile(path("fresh.bin"), path("fresh.bin")), platform::kErrorNone);
    EXPECT_EQ(read("fresh.bin"), std::string("new\0content", 11));
    // Only the two files and the source: no copy is left lying beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 3);
}

TEST_F(ShellOperations, CopyFileAnswersItsFailuresAsCopyFile) {
    write("source.txt", "s");
    fs::create_directory(path("folder"));
    EXPECT_EQ(shell_.copyFile(path("missing.txt"), path("t.txt")), platform::kErrorFileNotFound);
    EXPECT_EQ(shell_.copyFile(path("missing/s.txt"), path("t.txt")), platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.copyFile(path("source.txt"), path("missing/t.txt")),
              platform::kErrorPathNotFound);
    EXPECT_EQ(shell_.copyFile(path("source.txt"), path("folder")), platform::kErrorAccessDenied);
    EXPECT_EQ(shell_.copyFile(path("folder"), path("t.txt")), platform::kErrorAccessDenied);
    // A pipe in the place of a file is refused rather than waited on.
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(shell_.copyFile(path("pipe"), path("t.txt")), platform::kErrorAccessDenied);
    EXPECT_FALSE(fs::exists(path("t.txt")));
}

// Windows will not copy over a read-only file. Root writes anything, so an unprivileged child
// tries it.
TEST_F(ShellOperations, CopyFileIsDeniedOverAReadOnlyFile) {
    const uid_t nobody = 65534;
    fs::permissions(folder_, fs::perms::all);
    write("source.txt", "new");
    write("target.txt", "old");
    ASSERT_EQ(::chown(path("source.txt").c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chown(path("target.txt").c_str(), nobody, nobody), 0);
    fs::permissions(path("target.txt"), fs::perms::owner_read | fs::perms::group_read);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            ::_exit(100);
        platform::LinuxShellOperations shell;
        ::_exit(shell.copyFile(path("source.txt"), path("target.txt")));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), platform::kErrorAccessDenied);
    EXPECT_EQ(read("target.txt"), "old");
}

TEST_F(ShellOperations, ExecuteStartsTheProgramInTheWorkingFolderWithItsArguments) {
    const std::string program = recorder("bin/recorder.sh", true);
    fs::create_directory(path("work place"));
    const long result =
        shell_.execute(program, R"(plain "two words" back\\slash quote\"d "in ""quotes""" "")",
                       path("work place"), false);
    EXPECT_GT(result, 32);
    // The start does not wait for the program, which is nobody's child here: nothing is left
    // to wait for.
    EXPECT_FALSE(fs::exists(path("work place/ran.txt")));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    write("work place/go", "");
    EXPECT_EQ(awaitFile("work place/ran.txt"), path("work place") +
                                                   "\n[plain]\n[two words]\n[back\\\\slash]\n"
                                                   "[quote\"d]\n[in \"quotes\"]\n[]\n");
}

TEST_F(ShellOperations, ExecuteFindsProgramsInThePathAndClosesOurDescriptors) {
    const int descriptor = ::open(path(".").c_str(), O_RDONLY);  // inheritable
    ASSERT_GE(descriptor, 3);
    // An elevated start cannot be had here; the program starts all the same.
    const long result =
        shell_.execute("sh",
                       "-c \"if [ -e /proc/$$/fd/" + std::to_string(descriptor) +
                           " ]; then echo open; else echo closed; fi > fd.tmp; mv fd.tmp fd.txt\"",
                       folder_.string(), true);
    ::close(descriptor);
    EXPECT_GT(result, 32);
    EXPECT_EQ(awaitFile("fd.txt"), "closed\n");
}

TEST_F(ShellOperations, ExecuteFailuresAreShellExecuteErrors) {
    const std::string program = recorder("recorder.sh");
    write("data.txt", "not a program");
    write("garbage", "\x01\x02\x03 not a program either");
    fs::permissions(path("garbage"), fs::perms::owner_all);
    EXPECT_EQ(shell_.execute(path("missing"), "", "", false), 2);
    EXPECT_EQ(shell_.execute("velmora-no-such-program", "", "", false), 2);
    EXPECT_EQ(shell_.execute("", "", "", false), 2);
    EXPECT_EQ(shell_.execute(program, "", path("missing folder"), false), 3);
    EXPECT_EQ(shell_.execute(path("data.txt"), "", "", false), 5);
    EXPECT_EQ(shell_.execute(path("garbage"), "", "", false), 11);
    EXPECT_FALSE(fs::exists(path("ran.txt")));
}

TEST_F(ShellOperations, TheServicesProvideThem) {
    const platform::Services services = platform::systemServices();
    ASSERT_NE(services.shellOperations, nullptr);
    EXPECT_EQ(services.shellOperations->createFolder(path("made")), platform::kErrorNone);
    EXPECT_TRUE(fs::is_directory(path("made")));
}

}  // namespace
