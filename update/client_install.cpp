#include "update/client_install.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "base/engine_log.h"
#include "platform/shell_operations.h"
#include "storage/safe_file_writer.h"
#include "tools/updater/updater.h"
#include "update/package.h"

namespace update {
namespace {

std::atomic<bool> pendingClientUpdate{false};
std::atomic<bool> needsElevation{false};

std::string path(const QString& text) {
    return QDir::toNativeSeparators(text).toStdString();
}

QString stagedVersionPath(const Environment& environment) {
    return environment.appFolder + QStringLiteral("tupdates/client/version");
}

// What the updater's last run came to; consumed by reading.
QString takeUpdaterResult(const Environment& environment) {
    QFile file(environment.appFolder + QStringLiteral(VELMORA_UPDATER_RESULT));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString word = QString::fromLatin1(file.read(64)).trimmed();
    file.close();
    file.remove();
    return word;
}

}  // namespace

QString updaterProgram() {
    return QStringLiteral(VELMORA_UPDATER_NAME);
}

bool clientUpdatePending() {
    return pendingClientUpdate;
}

void setClientUpdatePending(bool pending) {
    pendingClientUpdate = pending;
}

bool updaterNeedsElevation() {
    return needsElevation;
}

// The new updater stays in the ready folder: it runs from there and installs itself with the
// client, in the same journaled swap, so the two never mismatch.
bool checkReadyUpdate(const Environment& environment) {
    const QString ready = environment.appFolder + QStringLiteral("tupdates/client/ready");
    if (!QDir(ready).exists()) {
        ENGINE_LOG_INFO(QStringLiteral("dir ready is not exists"));
        return false;
    }
    // Where no new file may be made, the updater needs the rights to write.
    QTemporaryFile probe(environment.appFolder + QStringLiteral("velmora-write-check-XXXXXX"));
    if (!probe.open()) {
        needsElevation = true;
        ENGINE_LOG_INFO(QStringLiteral("dir is in write-protected dir"));
    }
    return true;
}

void settleInterruptedUpdate(const Environment& environment) {
    namespace fs = std::filesystem;
    const fs::path installation = fs::u8path(environment.appFolder.toUtf8().toStdString());
    std::error_code error;
    if (!environment.shell || !fs::exists(installation / updater::kBackupFolder, error))
        return;
    // An updater still at work finishes first.
    const updater::InstallLock lock(installation, std::chrono::seconds(30));
    if (!lock.held()) {
        ENGINE_LOG_INFO(
            QStringLiteral("Update Error: an updater is still at work, its update "
                           "is left to it"));
        return;
    }
    updater::Log log(installation / updater::kLogFile);
    const updater::Outcome outcome =
        updater::settleInterruptedUpdate(installation, *environment.shell, log);
    ENGINE_LOG_INFO(QStringLiteral("Update Info: an interrupted client update was settled: %1")
                        .arg(QLatin1String(updater::resultWord(outcome))));
}

void stageClientVersion(const Environment& environment, const QString& version) {
    if (!storage::writeFileSafely(stagedVersionPath(environment), version.toUtf8()))
        ENGINE_LOG_INFO(QStringLiteral("Update Error: cannot note the staged client version"));
}

std::optional<QString> takeInstalledClientVersion(const Environment& environment) {
    const QString result = takeUpdaterResult(environment);
    QFile staged(stagedVersionPath(environment));
    if (!staged.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString version = QString::fromUtf8(staged.read(256)).trimmed();
    staged.close();
    if (result == QLatin1String("installed")) {
        clearUpdateFolder(environment, QStringLiteral("client"));
        ENGINE_LOG_INFO(QStringLiteral("Update Info: client %1 was installed").arg(version));
        return version.isEmpty() ? std::nullopt : std::optional<QString>(version);
    }
    if (QDir(environment.appFolder + QStringLiteral("tupdates/client/ready")).exists()) {
        ENGINE_LOG_INFO(QStringLiteral("Update Info: client %1 is still to be installed (%2)")
                            .arg(version, result.isEmpty() ? QStringLiteral("not run") : result));
        setClientUpdatePending(true);
        return std::nullopt;
    }
    ENGINE_LOG_INFO(QStringLiteral("Update Info: client %1 was not installed (%2)")
                        .arg(version, result.isEmpty() ? QStringLiteral("not run") : result));
    clearUpdateFolder(environment, QStringLiteral("client"));
    return std::nullopt;
}

void launchUpdater(const Environment& environment) {
    if (!pendingClientUpdate || !environment.shell)
        return;
    const QString staged =
        environment.appFolder + QStringLiteral("tupdates/client/ready/") + updaterProgram();
    const QString program =
        needsElevation || QFile::exists(staged) ? staged : environment.appFolder + updaterProgram();
    // The updater waits for this process to end before it replaces anything.
    const QString arguments = QStringLiteral("-update %1").arg(QCoreApplication::applicationPid());
    ENGINE_LOG_INFO(QStringLiteral("Application Info: executing %1 %2")
                        .arg(environment.appFolder + updaterProgram(), arguments));
    const QString folder = QDir::toNativeSeparators(environment.appFolder);
    const long result = environment.shell->execute(path(program), arguments.toStdString(),
                                                   folder.toStdString(), needsElevation);
    if (result <= 32) {
        ENGINE_LOG_INFO(
            QStringLiteral(
                "Application Error: failed to execute %1, working directory: '%2', result: %3")
                .arg(program, folder)
                .arg(result));
        environment.shell->deleteTree(
            path(environment.appFolder + QStringLiteral("tupdates/client/ready")));
    }
}

}  // namespace update
