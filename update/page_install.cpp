#include "update/page_install.h"

#include <QDir>
#include <QList>
#include <QPair>
#include <QThread>

#include <vector>

#include "base/engine_log.h"
#include "platform/shell_operations.h"

namespace update {
namespace {

constexpr int kCopyAttempts = 30;
constexpr int kCopyPauseMs = 100;

std::string native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdString();
}

void clearPageUpdate(const Environment& environment) {
    if (environment.shell && !environment.shell->deleteTree(native(
                                 environment.appFolder + QStringLiteral("tupdates/html/ready")))) {
        ENGINE_LOG_INFO(QStringLiteral("Error: failed to clear path! :("));
    }
    QDir(environment.appFolder).rmdir(QStringLiteral("tupdates"));  // only when empty
}

// Copies one file, retrying; asks when it stays impossible. False: cancelled.
bool copyWithRetry(const Environment& environment, const QString& source, const QString& target,
                   const RetryQuestion& askRetry) {
    platform::ShellOperations* shell = environment.shell;
    for (;;) {
        for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
            if (shell->copyFile(native(source), target.toStdString()) == platform::kErrorNone)
                return true;
            QThread::msleep(kCopyPauseMs);
        }
        if (!askRetry(target))
            return false;
    }
}

}  // namespace

bool installPagePackage(const Environment& environment, const RetryQuestion& askRetry) {
    platform::ShellOperations* shell = environment.shell;
    const QString source = environment.appFolder + QStringLiteral("tupdates/html/ready");
    const QString target =
        QDir::toNativeSeparators(environment.appFolder + QStringLiteral("view/device/"));
    ENGINE_LOG_INFO(QStringLiteral("des path is") + target);
    if (!shell)
        return false;
    // An installation without device pages yet gets the folder they go to.
    QDir().mkpath(environment.appFolder + QStringLiteral("view/device"));
    std::vector<platform::TreeEntry> entries;
    const int walked = shell->walkTree(native(source), entries);
    if (walked == platform::kErrorPathNotFound)
        return false;
    if (walked != platform::kErrorNone) {
        ENGINE_LOG_INFO(QStringLiteral("Error: failed to find update files :("));
        clearPageUpdate(environment);
        return false;
    }
    QList<QPair<QString, QString>> files;
    for (const platform::TreeEntry& entry : entries) {
        const QString relative = QString::fromStdString(entry.relativePath);
        const QString destination = QDir::toNativeSeparators(target + relative);
        if (entry.isFolder) {
            ENGINE_LOG_INFO(QStringLiteral("Parsing dir  in update tree.."));
            const int created = shell->createFolder(destination.toStdString());
            if (created != platform::kErrorNone && created != platform::kErrorAlreadyExists) {
                clearPageUpdate(environment);
                return false;
            }
        } else {
            files.append({source + QLatin1Char('/') + relative, destination});
        }
    }
    for (const auto& [from, to] : files) {
        if (!copyWithRetry(environment, from, to, askRetry)) {
            clearPageUpdate(environment);
            return false;
        }
    }
    ENGINE_LOG_INFO(QStringLiteral("move html succeed! Clearing folder.."));
    clearPageUpdate(environment);
    return true;
}

}  // namespace update
