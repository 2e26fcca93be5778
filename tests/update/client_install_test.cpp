// What the client makes of the updater's last run as it starts.

#include "update/client_install.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/linux/shell_operations_linux.h"

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(ClientInstall, OnlyAnInstalledUpdateIsRecordedAndAWaitingOneIsTriedAgain) {
    struct Case {
        const char* result;  // the updater's word, or none
        bool readyLeft;      // the staged files are still there
        std::optional<QString> recorded;
        bool triedAgain;
        bool stagedVersionKept;
    };
    const Case cases[] = {
        {"installed", false, QString("2.2.0"), false, false},
        {"failed", true, std::nullopt, true, true},
        {nullptr, true, std::nullopt, true, true},  // killed before the updater ran
        {"refused", false, std::nullopt, false, false},
        {"damaged", true, std::nullopt, true, true},
    };
    platform::LinuxShellOperations shell;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result ? c.result : "no result");
        QTemporaryDir folder;
        update::Environment environment;
        environment.appFolder = folder.path() + "/";
        environment.shell = &shell;
        if (c.readyLeft)
            writeFile(environment.appFolder + "tupdates/client/ready/velmora", "new");
        QDir().mkpath(environment.appFolder + "tupdates/client");
        update::stageClientVersion(environment, "2.2.0");
        if (c.result)
            writeFile(environment.appFolder + "updater.result", QByteArray(c.result) + "\n");
        update::setClientUpdatePending(false);

        EXPECT_EQ(update::takeInstalledClientVersion(environment), c.recorded);
        EXPECT_EQ(update::clientUpdatePending(), c.triedAgain);
        EXPECT_EQ(QFile::exists(environment.appFolder + "tupdates/client/version"),
                  c.stagedVersionKept);
        EXPECT_FALSE(QFile::exists(environment.appFolder + "updater.result"));
        // Read once: the next start has nothing more to record.
        EXPECT_EQ(update::takeInstalledClientVersion(environment), std::nullopt);
    }
    update::setClientUpdatePending(false);
}

}  // namespace
