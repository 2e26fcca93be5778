#include "storage/safe_file_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace storage {
namespace {

// QSaveFile names its temporary file after the target plus "." and six random ASCII letters;
// one is left behind only when the process ends between creating and renaming it.
void removeLeftovers(const QString& path) {
    const QFileInfo target(path);
    const QRegularExpression leftover(
        QStringLiteral("^%1\\.[A-Za-z]{6}$").arg(QRegularExpression::escape(target.fileName())));
    QDir folder = target.absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (leftover.match(name).hasMatch())
            folder.remove(name);
    }
}

}  // namespace

bool writeFileSafely(const QString& path, const QByteArray& content, FileMode mode) {
    removeLeftovers(path);

    QSaveFile file(path);
    // Qt writes in place only when creating the temporary file was refused for want of
    // permission (on Unix-like systems) and the existing file opens for writing.
    file.setDirectWriteFallback(true);
    QIODevice::OpenMode openMode = QIODevice::WriteOnly;
    if (mode == FileMode::Text)
        openMode |= QIODevice::Text;
    if (!file.open(openMode))
        return false;
    // Written in place, commit() no longer notices failed writes: check them here.
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit() && file.error() == QFileDevice::NoError;
}

}  // namespace storage
