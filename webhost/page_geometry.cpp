#include "webhost/page_geometry.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>
#include <QUrl>

namespace webhost {

QString applicationPageUrl(const QString& appFolder, const QString& relative) {
    // Only the path is a file name; what follows "?" or "#" is passed on as it stands.
    int pathEnd = relative.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (pathEnd < 0)
        pathEnd = relative.size();
    QString path = relative.left(pathEnd);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    QString folder = appFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString fileUrl = QUrl::fromLocalFile(folder + path).toString(QUrl::FullyEncoded);
    return QUrl(fileUrl + relative.mid(pathEnd)).toString(QUrl::FullyEncoded);
}

std::optional<QSize> parseWindowSize(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 2)
        return std::nullopt;
    bool widthOk = false;
    bool heightOk = false;
    const int width = parts.at(0).trimmed().toInt(&widthOk);
    const int height = parts.at(1).trimmed().toInt(&heightOk);
    if (!widthOk || !heightOk || width < 1 || height < 1)
        return std::nullopt;
    return QSize(width, height);
}

QSize boundedToScreens(const QSize& size) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return size;
    return size.boundedTo(screen->availableVirtualSize());
}

}  // namespace webhost
