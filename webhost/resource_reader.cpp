#include "webhost/resource_reader.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include "storage/path_rule.h"

namespace webhost {
namespace {

QStringList collectReferences(const QString& text, const QRegularExpression& pattern) {
    QStringList references;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QString reference = it.next().captured(1);
        if (!references.contains(reference))
            references.append(reference);
    }
    return references;
}

}  // namespace

QString pageFolderOf(const QString& appFolder) {
    return appFolder.isEmpty() ? QString() : appFolder + QStringLiteral("template/default/");
}

QString resolveInsideFolder(const QString& folder, const QString& relative) {
    if (folder.isEmpty())
        return QString();
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty())
        return QString();
    return storage::pathInside(root, QUrl::fromPercentEncoding(relative.toUtf8()));
}

QString imageDataUri(const QString& pageFolder, const QString& relative) {
    const QString imagePath = pageFolder + relative;
    qDebug() << imagePath;
    QByteArray format;
    if (imagePath.contains(QLatin1String(".png")))
        format = "png";
    if (imagePath.contains(QLatin1String(".jpg")))
        format = "jpg";
    if (imagePath.contains(QLatin1String(".gif")))
        format = "png";

    const QString safePath = resolveInsideFolder(pageFolder, relative);
    QFile file(safePath);
    if (safePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    QBuffer source(&bytes);
    QImageReader reader(&source);
    const QByteArray stored = reader.format() == "jpeg" ? QByteArray("jpg") : reader.format();
    // Decoding and encoding again costs the page's first load a millisecond or two per image;
    // only an image stored in another format than the one it is labelled with needs it.
    if (format.isEmpty() || stored != format) {
        QImage image;
        if (!image.loadFromData(bytes))
            return QString();
        bytes.clear();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format.isEmpty() ? nullptr : format.constData());
    }
    return QStringLiteral("data:image/") + QString::fromLatin1(format) +
           QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64());
}

QByteArray readResourceFile(const QString& filePath, const QString& pageFolder) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    // Decoded with its length: a zero byte must not cut the file short.
    const QByteArray bytes = file.readAll();
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());

    if (filePath.contains(QLatin1String(".css"))) {
        static const QRegularExpression stylePattern(QStringLiteral("url(([^)]*))"));
        for (QString reference : collectReferences(text, stylePattern)) {
            reference.remove(QStringLiteral("(../"));
            const QString uri = imageDataUri(pageFolder, reference);
            text.replace(QStringLiteral("url(../") + reference + QLatin1Char(')'),
                         QStringLiteral("url(") + uri + QLatin1Char(')'));
        }
    } else {
        static const QRegularExpression pagePattern(QStringLiteral("src=\"(image/[^\"]*)\""));
        for (const QString& reference : collectReferences(text, pagePattern)) {
            const QString uri = imageDataUri(pageFolder, reference);
            text.replace(QStringLiteral("src=\"") + reference + QLatin1Char('"'),
                         QStringLiteral("src=\"") + uri + QLatin1Char('"'));
        }
    }
    return text.toUtf8();
}

}  // namespace webhost
