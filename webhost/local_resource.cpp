#include "webhost/local_resource.h"

#include <cstring>

#include "webhost/resource_reader.h"

namespace webhost {
namespace {

QByteArray readInsideFolder(const QString& pageFolder, const QString& relative) {
    const QString path = resolveInsideFolder(pageFolder, relative);
    return path.isEmpty() ? QByteArray() : readResourceFile(path, pageFolder);
}

}  // namespace

LocalResourceHandler::LocalResourceHandler(Route route, const QString& pageFolder)
    : route_(route), pageFolder_(pageFolder) {}

engine::ResourceHandlerPtr LocalResourceHandler::intercept(const QString& pageFolder,
                                                           const QString& url) {
    if (!url.contains(QLatin1String("local")))
        return nullptr;
    const QString relative = url.mid(kInterceptedPrefixLength);
    QString mime;
    if (url.contains(QLatin1String(".html")) || url.contains(QLatin1String(".properties"))) {
        mime = QStringLiteral("text/html");
    } else if (url.contains(QLatin1String(".js")) || url.contains(QLatin1String(".css"))) {
        mime = relative.contains(QLatin1String(".js")) ? QStringLiteral("application/javascript")
                                                       : QStringLiteral("text/css");
    } else {
        return nullptr;
    }
    const QByteArray data = readInsideFolder(pageFolder, relative);
    if (data.isEmpty())
        return nullptr;
    QSharedPointer<LocalResourceHandler> handler(
        new LocalResourceHandler(Route::Interception, pageFolder));
    handler->serve(data, mime);
    return handler;
}

bool LocalResourceHandler::processRequest(const QString& url) {
    if (route_ == Route::Interception)
        return true;  // answered when it was intercepted
    QString relative = url.mid(kSchemePrefixLength);
    QString mime;
    if (url.contains(QLatin1String("local/client"))) {
        relative += QStringLiteral(".html");
        mime = QStringLiteral("text/html");
    } else {
        mime = relative.contains(QLatin1String(".js")) ? QStringLiteral("application/javascript")
                                                       : QStringLiteral("text/html");
    }
    serve(readInsideFolder(pageFolder_, relative), mime);
    return true;
}

QList<QPair<QByteArray, QByteArray>> LocalResourceHandler::headers() const {
    if (route_ == Route::Interception)
        return {};
    return {{"Cache-Control", "no-cache"},
            {"Access-Control-Allow-Origin", "*"},
            {"Access-Control-Allow-Credentials", "true"}};
}

bool LocalResourceHandler::readResponse(char* out, int bytesToRead, int& bytesRead) {
    bytesRead = 0;
    if (offset_ >= data_.size() || bytesToRead <= 0)
        return false;
    bytesRead = qMin(bytesToRead, data_.size() - offset_);
    std::memcpy(out, data_.constData() + offset_, static_cast<size_t>(bytesRead));
    offset_ += bytesRead;
    return true;
}

void LocalResourceHandler::serve(const QByteArray& data, const QString& mimeType) {
    data_ = data;
    mimeType_ = mimeType;
    offset_ = 0;
}

engine::ResourceHandlerPtr LocalSchemeHandlerFactory::create(const engine::BrowserPtr&,
                                                             const QString&, const QString&) {
    return engine::ResourceHandlerPtr(
        new LocalResourceHandler(LocalResourceHandler::Route::Scheme, pageFolder_));
}

}  // namespace webhost
