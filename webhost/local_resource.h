#pragma once

#include <QByteArray>
#include <QString>

#include "webhost/engine/engine.h"

namespace webhost {

// Serves bytes read from the page folder; one instance answers one request.
class LocalResourceHandler : public engine::ResourceHandler {
  public:
    enum class Route { Scheme, Interception };

    // Serves from `pageFolder` (the application folder's template/default/).
    LocalResourceHandler(Route route, const QString& pageFolder);

    // The interception's answer for `url`, or null to decline it.
    static engine::ResourceHandlerPtr intercept(const QString& pageFolder, const QString& url);

    bool processRequest(const QString& url) override;
    int status() const override { return 200; }
    QString mimeType() const override { return mimeType_; }
    QList<QPair<QByteArray, QByteArray>> headers() const override;
    qint64 responseLength() const override { return data_.size(); }
    bool readResponse(char* out, int bytesToRead, int& bytesRead) override;

  private:
    void serve(const QByteArray& data, const QString& mimeType);

    Route route_;
    QString pageFolder_;
    QByteArray data_;
    QString mimeType_;
    int offset_ = 0;
};

// Creates a fresh handler for every request of the "velmora" scheme.
class LocalSchemeHandlerFactory : public engine::SchemeHandlerFactory {
  public:
    explicit LocalSchemeHandlerFactory(const QString& pageFolder) : pageFolder_(pageFolder) {}
    engine::ResourceHandlerPtr create(const engine::BrowserPtr& browser, const QString& schemeName,
                                      const QString& url) override;

  private:
    const QString pageFolder_;
};

// The fixed lengths of the origin and prefix that page URLs carry before the file's path.
constexpr int kInterceptedPrefixLength = 35;  // "velmora://settings/local/resources/"
constexpr int kSchemePrefixLength = 33;       // "velmora://settings/local/clients/"

}  // namespace webhost
