// The updater's installation, on every system it is built for.

#include "updater_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST_F(UpdaterTest, ReplacesTheClientsFilesAndClearsTheReadyFolder) {
    write(installed(updater::kClientProgram), "old client");
    write(installed("lib/a.so"), "old a");
    write(installed("keep.txt"), "kept");
    write(installed("tupdates/html/ready/page.html"), "page");
    write(staged(updater::kClientProgram), "new client");
    write(staged("lib/a.so"), "new a");
    write(staged("lib/plugins/b.so"), "new b");
    write(staged("extra.txt"), "extra");

    EXPECT_EQ(replaceClient(1s), updater::Outcome::Installed);

    const std::map<std::string, std::string> expected{
        {updater::kClientProgram, "new client"},
        {"extra.txt", "extra"},
        {"keep.txt", "kept"},
        {"lib/a.so", "new a"},
        {"lib/plugins/b.so", "new b"},
        // Other kinds' updates are the client's business.
        {"tupdates/html/ready/page.html", "page"},
        // What the client's next start records.
        {updater::kResultFile, "installed\n"}};
    EXPECT_EQ(files(installation_), expected);
    EXPECT_FALSE(fs::exists(installed("tupdates/client")));
    EXPECT_FALSE(fs::exists(installed(updater::kBackupFolder)));
    EXPECT_NE(logText().find("installed 4 files"), std::string::npos) << logText();
}

TEST_F(UpdaterTest, RemovesTheUpdateFoldersItLeavesEmpty) {
    write(installed(updater::kClientProgram), "old client");
    write(staged(updater::kClientProgram), "new client");
    EXPECT_EQ(replaceClient(1s), updater::Outcome::Installed);
    EXPECT_EQ(read(installed(updater::kClientProgram)), "new client");
    EXPECT_FALSE(fs::exists(installed("tupdates")));
}

TEST_F(UpdaterTest, WithoutAReadyFolderThereIsNothingToInstall) {
    write(installed(updater::kClientProgram), "client");
    EXPECT_EQ(replaceClient(1s), updater::Outcome::NothingToInstall);
    EXPECT_EQ(files(installation_),
              (std::map<std::string, std::string>{{updater::kClientProgram, "client"}}));
}

// The old installation stays whole when one of the files cannot be replaced half way.
TEST_F(UpdaterTest, RollsBackWhenATargetCannotBeReplaced) {
    write(installed("a.txt"), "old a");
    write(installed(updater::kClientProgram), "old client");
    write(installed("z.dat/inside.txt"), "a folder where a file should go");
    write(staged("a.txt"), "new a");
    write(staged("m/new.txt"), "new m");
    write(staged(updater::kClientProgram), "new client");
    write(staged("z.dat"), "new z");
    const auto before = files(installation_);

    EXPECT_EQ(replaceClient(200ms), updater::Outcome::Failed);

    EXPECT_EQ(files(installation_), before);
    EXPECT_FALSE(fs::exists(installed("m")));
    EXPECT_FALSE(fs::exists(installed(updater::kBackupFolder)));
    // The update stays ready for another try.
    EXPECT_EQ(files(readyFolder()).size(), 4u);
    EXPECT_NE(logText().find("cannot replace 'z.dat'"), std::string::npos) << logText();
}

TEST_F(UpdaterTest, RollsBackWhenAFolderCannotBeMade) {
    write(installed("a.txt"), "old a");
    write(installed("lib"), "a file where a folder should go");
    write(staged("a.txt"), "new a");
    write(staged("lib/x.so"), "new x");
    const auto before = files(installation_);
    EXPECT_EQ(replaceClient(200ms), updater::Outcome::Failed);
    EXPECT_EQ(files(installation_), before);
}

TEST_F(UpdaterTest, RefusesNamesThatLeaveTheInstallation) {
    write(installed("a.txt"), "old a");
    write(staged("a.txt"), "new a");
    write(root_ / "outside.txt", "outside");
    write(installation_ / "tupdates" / "client" / "outside.txt", "hostile");
    const auto before = files(root_);
    for (const std::string name :
         {"../outside.txt", "sub/../../outside.txt", "/outside.txt", "C:/outside.txt",
          "..\\outside.txt", "./a.txt", "a//b", "", "line\nbreak", "tupdates/client/outside.txt",
          "updater-backup/journal.txt", "Updater.LOG", "updater.result", "a.txt.Updater-New"}) {
        SCOPED_TRACE(name);
        updater::Log log(installation_ / updater::kLogFile);
        EXPECT_FALSE(updater::isInstallableName(name));
        EXPECT_EQ(updater::installFiles(installation_, readyFolder(), {"a.txt", name}, shell_, log),
                  updater::Outcome::Refused);
        EXPECT_EQ(files(root_), before);
    }
    EXPECT_TRUE(updater::isInstallableName("sub/a..b.txt"));
}

TEST_F(UpdaterTest, FindsTheInstallationItServes) {
    const fs::path elsewhere = root_ / "elsewhere";
    fs::create_directories(elsewhere);
    // Started in the installation, as the client starts it.
    fs::create_directories(readyFolder());
    EXPECT_EQ(updater::installationFolder(installation_, elsewhere), installation_);
    // Run from the ready folder itself, when it had to be started with more rights.
    EXPECT_EQ(updater::installationFolder(elsewhere, readyFolder()), installation_);
    // No update anywhere: the folder that holds the client, else the working folder.
    fs::remove_all(installed("tupdates"));
    write(installed(updater::kClientProgram), "client");
    EXPECT_EQ(updater::installationFolder(elsewhere, installation_), installation_);
    EXPECT_EQ(updater::installationFolder(elsewhere, root_), elsewhere);
}

}  // namespace
