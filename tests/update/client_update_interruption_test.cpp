// The updater killed at random moments: after the client's next start every installation is
// wholly old or wholly new, and the version recorded is the one installed.

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <random>
#include <thread>

#include "platform/linux/shell_operations_linux.h"
#include "update/client_install.h"

extern char** environ;

namespace {

constexpr int kLibraries = 19;
constexpr int kTrials = 300;

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The client's files as one generation has them: `tag` is "old" or "new".
QMap<QString, QByteArray> generation(const QString& tag) {
    QMap<QString, QByteArray> files;
    files["velmora"] = tag.toUtf8() + " client";
    files["Updater"] = tag.toUtf8() + " updater";
    for (int i = 0; i < kLibraries; ++i)
        files[QString("lib/lib%1.so").arg(i)] = tag.toUtf8() + " library " + QByteArray::number(i);
    if (tag == "new")
        files["lib/libadded.so"] = "added library";
    return files;
}

// The client's files in the installation, and every file an update may have left beside them.
QMap<QString, QByteArray> installedFiles(const QString& folder, QStringList& leftovers) {
    QMap<QString, QByteArray> files;
    for (const QString& name : generation("new").keys()) {
        if (QFile::exists(folder + name))
            files[name] = readFile(folder + name);
    }
    QDirIterator walk(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString name = QDir(folder).relativeFilePath(walk.next());
        if (name.endsWith(".updater-new") || name.startsWith("updater-backup/"))
            leftovers.append(name);
    }
    return files;
}

// Starts the updater in the installation and kills it after `delay` (none: lets it end); the
// microseconds it ran.
qint64 runAndKill(const QString& folder, std::optional<std::chrono::microseconds> delay) {
    QElapsedTimer timer;
    timer.start();
    const QByteArray program = QByteArray(VELMORA_APP_DIR) + "/Updater";
    const QByteArray workingFolder = QFile::encodeName(folder);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.constData());
    char* const arguments[] = {const_cast<char*>(program.constData()), const_cast<char*>("-update"),
                               nullptr};
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.constData(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (delay) {
        std::this_thread::sleep_for(*delay);
        ::kill(child, SIGKILL);
    }
    ::waitpid(child, nullptr, 0);
    return timer.nsecsElapsed() / 1000;
}

TEST(InterruptedClientUpdate, EveryKillLeavesOneWholeGenerationWithItsVersionRecorded) {
    platform::LinuxShellOperations shell;
    const QMap<QString, QByteArray> oldFiles = generation("old");
    const QMap<QString, QByteArray> newFiles = generation("new");
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const auto prepare = [&](const QString& folder) {
        QDir(folder).removeRecursively();
        for (auto file = oldFiles.begin(); file != oldFiles.end(); ++file)
            writeFile(folder + file.key(), file.value());
        for (auto file = newFiles.begin(); file != newFiles.end(); ++file)
            writeFile(folder + "tupdates/client/ready/" + file.key(), file.value());
        writeFile(folder + "tupdates/client/version", "2.0");
    };

    // How long a whole run takes here: the kills fall anywhere within it.
    const QString folder = root.path() + "/install/";
    prepare(folder);
    const qint64 wholeRun = runAndKill(folder, std::nullopt);
    ASSERT_EQ(generation("new")["velmora"], readFile(folder + "velmora"));

    std::mt19937 random(20261208);
    int endedOld = 0, endedNew = 0, settled = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        prepare(folder);
        const std::chrono::microseconds delay(
            std::uniform_int_distribution<qint64>(0, wholeRun * 6 / 5)(random));
        runAndKill(folder, delay);
        if (QFileInfo::exists(folder + "updater-backup"))
            ++settled;

        // The client's next start.
        update::Environment environment;
        environment.appFolder = folder;
        environment.shell = &shell;
        update::settleInterruptedUpdate(environment);
        const std::optional<QString> installed = update::takeInstalledClientVersion(environment);
        const QString recorded = installed.value_or("1.0");

        QStringList leftovers;
        const QMap<QString, QByteArray> found = installedFiles(folder, leftovers);
        const bool isOld = found == oldFiles;
        const bool isNew = found == newFiles;
        ASSERT_TRUE(isOld || isNew) << "trial " << trial << " after " << delay.count() << " µs";
        ASSERT_EQ(recorded, isNew ? "2.0" : "1.0") << "trial " << trial;
        ASSERT_TRUE(leftovers.isEmpty())
            << "trial " << trial << ": " << leftovers.join(", ").toStdString();
        (isNew ? endedNew : endedOld)++;
    }
    // The kills fell before, during and after the swap.
    EXPECT_GT(endedOld, 0);
    EXPECT_GT(endedNew, 0);
    EXPECT_GT(settled, 0);
    std::printf("%d trials: %d old, %d new, %d settled at the next start (whole run %lld µs)\n",
                kTrials, endedOld, endedNew, settled, static_cast<long long>(wholeRun));
}

}  // namespace
