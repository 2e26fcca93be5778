// The updater against files that are in use, as the client's are while it ends, and
// Updater.exe as the client starts it.

#include <windows.h>

#include <thread>

#include "test_support.h"
#include "tests/tools/updater_fixture.h"

namespace {

using namespace std::chrono_literals;

class UpdaterInUse : public UpdaterTest {
  protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        write(installed("a.txt"), "old a");
        write(installed(updater::kClientProgram), "old client");
        write(installed("zz.dll"), "old zz");
        before_ = files(installation_);
        write(staged("a.txt"), "new a");
        write(staged("b/new.txt"), "new b");
        write(staged(updater::kClientProgram), "new client");
        write(staged("zz.dll"), "new zz");
    }

    // Open as a loaded library is: readable, but neither replaceable nor deletable.
    HANDLE hold(const std::string& name) const {
        return CreateFileW(installed(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::map<std::string, std::string> before_;
};

TEST_F(UpdaterInUse, PutsBackTheFilesAlreadySwappedWhenOneStaysInUse) {
    HANDLE held = hold("zz.dll");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const updater::Outcome outcome = replaceClient(300ms);
    CloseHandle(held);
    EXPECT_EQ(outcome, updater::Outcome::Failed);
    for (const auto& [name, content] : before_)
        EXPECT_EQ(read(installed(name)), content) << name;
    EXPECT_FALSE(fs::exists(installed("b")));
    EXPECT_FALSE(fs::exists(installed(updater::kBackupFolder)));
    EXPECT_NE(logText().find("put back a.txt"), std::string::npos) << logText();
}

TEST_F(UpdaterInUse, WaitsForAFileInUseToBeReleased) {
    HANDLE held = hold("zz.dll");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread releaser([held] {
        std::this_thread::sleep_for(300ms);
        CloseHandle(held);
    });
    const updater::Outcome outcome = replaceClient(20s);
    releaser.join();
    EXPECT_EQ(outcome, updater::Outcome::Installed);
    EXPECT_EQ(read(installed("zz.dll")), "new zz");
    EXPECT_EQ(read(installed(updater::kClientProgram)), "new client");
    EXPECT_FALSE(fs::exists(readyFolder()));
}

TEST_F(UpdaterTest, UpdaterExeInstallsAndStartsTheClient) {
    // The updater stands in for the client: without arguments it ends at once, and as a
    // window program it opens no console that could take the focus from other tests.
    const fs::path client = testsupport::executableFolder() + L"Updater.exe";
    write(installed(updater::kClientProgram), "old client");
    write(installed("data.txt"), "old data");
    fs::create_directories(readyFolder());
    fs::copy_file(client, staged(updater::kClientProgram));
    write(staged("data.txt"), "new data");

    DWORD exitCode = 99;
    ASSERT_TRUE(
        testsupport::runProcess(L"\"" + testsupport::executableFolder() + L"Updater.exe\" -update",
                                installation_.wstring(), exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(read(installed(updater::kClientProgram)), read(client));
    EXPECT_EQ(read(installed("data.txt")), "new data");
    EXPECT_FALSE(fs::exists(installed("tupdates")));
    EXPECT_NE(logText().find("started " + installed(updater::kClientProgram).u8string()),
              std::string::npos)
        << logText();
}

}  // namespace
