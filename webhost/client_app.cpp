#include "webhost/client_app.h"

#include <QFile>

static void initWebhostResources() {
    Q_INIT_RESOURCE(webhost);
}

ClientApp::ClientApp() {
    initWebhostResources();
}

QStringList ClientApp::cookieableSchemes() const {
    return {QStringLiteral("http"), QStringLiteral("https")};
}

QString ClientApp::rendererScript() const {
    QFile file(QStringLiteral(":/webhost/render_delegate.js"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
