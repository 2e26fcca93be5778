// The baseline the program's start-up is measured against: a bare QtWebEngine window with a
// QWebChannel that loads one page and answers its first query, then prints "first query".

#include <QApplication>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>

#include "base/startup_timeline.h"

namespace {

const char kPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>baseline</title>"
    "<script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head>"
    "<body style=\"background:#222529;color:#ddd\">baseline<script>"
    "new QWebChannel(qt.webChannelTransport, (channel) => {"
    "  channel.objects.bridge.query('{\"funcname\":\"getDevicesList\"}', () => {});"
    "});"
    "</script></body></html>";

}  // namespace

class Bridge : public QObject {
    Q_OBJECT
  public slots:
    QString query(const QString&) {
        std::printf("first query\n");
        std::fflush(stdout);
        return QStringLiteral("[]");
    }
};

int main(int argc, char** argv) {
    startup::mark("process entered main");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWebEngineView view;
    QObject::connect(view.page(), &QWebEnginePage::loadStarted,
                     [] { startup::mark("page load started"); });
    QObject::connect(view.page(), &QWebEnginePage::loadFinished,
                     [] { startup::mark("page loaded"); });
    startup::mark("window");
    QWebChannel channel;
    Bridge bridge;
    channel.registerObject(QStringLiteral("bridge"), &bridge);
    view.page()->setWebChannel(&channel);
    view.setHtml(QString::fromUtf8(kPage), QUrl(QStringLiteral("qrc:/")));
    view.resize(1000, 700);
    view.show();
    return app.exec();
}

#include "bare_engine_baseline.moc"
