#pragma once

// A throw-away application folder for targets whose code reads and writes files: one per
// process, nested two levels below a fresh temporary folder, with sentinel folders beside it
// and above it that nothing may touch. Qt's log output and the engine log are silenced, so
// that a run spends its time on the code under test.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include "base/engine_log.h"

namespace fuzz {

inline void silenceLogs() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    engine::Log::setMinimumSeverity(engine::LogSeverity::Disable);
}

class TempAppFolder {
  public:
    TempAppFolder() : root_(baseFolder() + QStringLiteral("/velmora-fuzz-XXXXXX")) {
        QDir().mkpath(app());
        writeSentinel(root_.path() + QStringLiteral("/above"));
        writeSentinel(parent() + QStringLiteral("/beside"));
    }

    // The application folder, without trailing separator.
    QString app() const { return parent() + QStringLiteral("/app"); }
    QString parent() const { return root_.path() + QStringLiteral("/parent"); }
    QString root() const { return root_.path(); }

    // Gives the application folder exactly `files` (relative path → content).
    void reset(const QMap<QString, QByteArray>& files) const {
        QDir(app()).removeRecursively();
        QDir().mkpath(app());
        for (auto it = files.begin(); it != files.end(); ++it)
            write(it.key(), it.value());
    }

    void write(const QString& relative, const QByteArray& content) const {
        const QString path = app() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(content) != content.size()) {
            qFatal("cannot write the fuzz folder's file %s", qPrintable(path));
        }
    }

    // The files (and links) below the application folder, relative to it.
    QStringList files() const {
        QStringList found;
        QDirIterator it(app(), QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(app()).relativeFilePath(it.next());
        return found;
    }

    // Whether everything beside and above the application folder is as it was made.
    bool outsideUntouched() const {
        return entries(root()) == QStringList{QStringLiteral("above"), QStringLiteral("parent")} &&
               entries(parent()) == QStringList{QStringLiteral("app"), QStringLiteral("beside")} &&
               sentinelIntact(root() + QStringLiteral("/above")) &&
               sentinelIntact(parent() + QStringLiteral("/beside"));
    }

  private:
    // Memory-backed where there is such a folder: saves wait for the disk otherwise, and a
    // target saves thousands of times a second.
    static QString baseFolder() {
        const QFileInfo shared(QStringLiteral("/dev/shm"));
        return shared.isDir() && shared.isWritable() ? shared.filePath() : QDir::tempPath();
    }
    static QStringList entries(const QString& folder) {
        return QDir(folder).entryList(
            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    static QByteArray sentinelText() { return QByteArrayLiteral("sentinel: must stay as it is"); }
    static void writeSentinel(const QString& folder) {
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/sentinel.txt"));
        if (!file.open(QIODevice::WriteOnly) || file.write(sentinelText()) < 0)
            qFatal("cannot write the fuzz sentinel in %s", qPrintable(folder));
    }
    static bool sentinelIntact(const QString& folder) {
        if (entries(folder) != QStringList{QStringLiteral("sentinel.txt")})
            return false;
        QFile file(folder + QStringLiteral("/sentinel.txt"));
        return file.open(QIODevice::ReadOnly) && file.readAll() == sentinelText();
    }

    QTemporaryDir root_;
};

}  // namespace fuzz
