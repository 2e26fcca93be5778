// The updater on Linux: files that cannot be replaced, an update cut short, links, and the
// program as the client starts it.

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "updater_fixture.h"

namespace {

using namespace std::chrono_literals;

// Marks a file immutable, which even root cannot replace, until the object ends or `release`.
class Immutable {
  public:
    explicit Immutable(const fs::path& file) : file_(file) { held_ = set(true); }
    ~Immutable() { release(); }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;

    bool held() const { return held_; }
    void release() {
        if (held_)
            held_ = !set(false);
    }

  private:
    bool set(bool on) const {
        const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    fs::path file_;
    bool held_ = false;
};

class UpdaterOnLinux : public UpdaterTest {
  protected:
    // An installation, and an update of all of it with one more file.
    void prepare() {
        write(installed("a.txt"), "old a");
        write(installed("velmora"), "old client");
        write(installed("zz.bin"), "old zz");
    }
    void stage() {
        write(staged("a.txt"), "new a");
        write(staged("b/new.txt"), "new b");
        write(staged("velmora"), "new client");
        write(staged("zz.bin"), "new zz");
    }

    static void awaitContent(const fs::path& file, const std::string& content) {
        for (int i = 0; i < 1000 && read(file) != content; ++i)
            std::this_thread::sleep_for(10ms);
    }
};

TEST_F(UpdaterOnLinux, RetriesAFileUntilItCanBeReplaced) {
    prepare();
    stage();
    Immutable stuck(installed("zz.bin"));
    if (!stuck.held())
        GTEST_SKIP() << "no immutable files here";
    std::thread releaser([&] {
        std::this_thread::sleep_for(300ms);
        stuck.release();
    });
    const updater::Outcome outcome = replaceClient(20s);
    releaser.join();
    EXPECT_EQ(outcome, updater::Outcome::Installed);
    EXPECT_EQ(read(installed("zz.bin")), "new zz");
    EXPECT_EQ(read(installed("a.txt")), "new a");
}

TEST_F(UpdaterOnLinux, PutsBackTheFilesAlreadySwappedWhenOneCannotBeReplaced) {
    prepare();
    stage();
    const auto before = files(installation_);
    Immutable stuck(installed("zz.bin"));
    if (!stuck.held())
        GTEST_SKIP() << "no immutable files here";
    EXPECT_EQ(replaceClient(200ms), updater::Outcome::Failed);
    EXPECT_EQ(files(installation_), before);
    EXPECT_FALSE(fs::exists(installed("b")));
    EXPECT_NE(logText().find("put back a.txt"), std::string::npos) << logText();
}

// The next run undoes what an updater killed half way had done.
TEST_F(UpdaterOnLinux, UndoesAnUpdateCutShort) {
    prepare();
    const auto before = files(installation_);
    stage();
    Immutable stuck(installed("zz.bin"));
    if (!stuck.held())
        GTEST_SKIP() << "no immutable files here";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        replaceClient(60s);
        ::_exit(0);
    }
    // Killed while it waits for the last file, the others swapped in.
    awaitContent(installed("velmora"), "new client");
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    ASSERT_EQ(read(installed("a.txt")), "new a");
    stuck.release();

    fs::remove_all(readyFolder());
    EXPECT_EQ(replaceClient(1s), updater::Outcome::NothingToInstall);
    EXPECT_EQ(files(installation_), before);
    EXPECT_FALSE(fs::exists(installed("b")));
    EXPECT_NE(logText().find("undoing an update that was cut short"), std::string::npos);
}

TEST_F(UpdaterOnLinux, NeverFollowsLinksOutOfTheInstallation) {
    write(root_ / "outside" / "secret.txt", "secret");
    write(installed("a.txt"), "old a");
    write(staged("a.txt"), "new a");
    fs::create_symlink(root_ / "outside" / "secret.txt", staged("secret.txt"));
    fs::create_directory_symlink(root_ / "outside", staged("linked"));
    EXPECT_EQ(replaceClient(1s), updater::Outcome::Installed);
    EXPECT_EQ(files(installation_),
              (std::map<std::string, std::string>{{"a.txt", "new a"},
                                                  {updater::kResultFile, "installed\n"}}));

    // A folder of the installation that is a link elsewhere is not written through.
    fs::create_directory_symlink(root_ / "outside", installed("view"));
    write(staged("a.txt"), "newer a");
    write(staged("view/page.html"), "page");
    EXPECT_EQ(replaceClient(1s), updater::Outcome::Refused);
    EXPECT_EQ(read(installed("a.txt")), "new a");
    EXPECT_EQ(files(root_ / "outside"),
              (std::map<std::string, std::string>{{"secret.txt", "secret"}}));
    EXPECT_FALSE(fs::exists(readyFolder()));
}

// Runs the updater program in the installation, as the client starts it.
pid_t startUpdater(const fs::path& folder, const std::vector<std::string>& arguments) {
    const std::string program = VELMORA_APP_DIR "/Updater";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) == 0)
            ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

int exitStatus(pid_t child) {
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -2;
}

TEST_F(UpdaterOnLinux, TheProgramWaitsForTheClientThenInstallsAndStartsIt) {
    const auto client = [](const std::string& which) {
        return "#!/bin/sh\necho " + which + " > started.tmp\nmv started.tmp started.txt\n";
    };
    write(installed("velmora"), client("old"));
    write(staged("velmora"), client("new"));
    fs::permissions(installed("velmora"), fs::perms::owner_all);
    fs::permissions(staged("velmora"), fs::perms::owner_all);

    // The client still ending.
    const pid_t ending = ::fork();
    ASSERT_GE(ending, 0);
    if (ending == 0) {
        for (;;)
            ::pause();
    }
    const pid_t updater = startUpdater(installation_, {"-update", std::to_string(ending)});
    ASSERT_GT(updater, 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(::waitpid(updater, nullptr, WNOHANG), 0);
    EXPECT_EQ(read(installed("velmora")), client("old"));
    ::kill(ending, SIGKILL);
    ::waitpid(ending, nullptr, 0);

    EXPECT_EQ(exitStatus(updater), 0);
    EXPECT_EQ(read(installed("velmora")), client("new"));
    awaitContent(installed("started.txt"), "new\n");
    EXPECT_EQ(read(installed("started.txt")), "new\n");
    EXPECT_FALSE(fs::exists(installed("tupdates")));
    EXPECT_EQ(read(installed("updater.result")), "installed\n");
    EXPECT_NE(logText().find("started " + installed("velmora").string()), std::string::npos)
        << logText();
}

TEST_F(UpdaterOnLinux, TheProgramDoesNothingWithoutItsArgument) {
    write(installed("velmora"), "old client");
    write(staged("velmora"), "new client");
    const auto before = files(installation_);
    EXPECT_EQ(exitStatus(startUpdater(installation_, {})), 2);
    EXPECT_EQ(exitStatus(startUpdater(installation_, {"-install"})), 2);
    EXPECT_EQ(files(installation_), before);
    EXPECT_FALSE(fs::exists(installation_ / updater::kLogFile));
}

}  // namespace
