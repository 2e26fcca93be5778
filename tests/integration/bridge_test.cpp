// Pages under the page folder drive real commands through the real engine.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "app/application.h"
#include "app/window.h"
#include "webhost/client_app.h"
#include "webhost/client_handler.h"
#include "webhost/engine/qtwebengine/qt_engine.h"
#include "webhost/local_resource.h"
#include "webhost/qcef_web_view.h"

namespace {

QJsonObject results;
QStringList reports;
QRect geometryBeforeMove;
QRect geometryAfterRun;
QString logPath;

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QString logText() {
    QFile file(logPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void copyPage(const QString& name) {
    const QString target = Application::appFolder() + "template/default/" + name;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    QFile::copy(QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/") + name, target);
}

// Serves one page over plain HTTP on 127.0.0.1.
class PageServer : public QTcpServer {
  public:
    explicit PageServer(QByteArray page) : page_(std::move(page)) {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                  QByteArray::number(page_.size()) +
                                  "\r\nConnection: close\r\n\r\n" + page_);
                    socket->disconnectFromHost();
                });
            }
        });
    }

  private:
    QByteArray page_;
};

TEST(Bridge, ThinCommandsAnswerAsTheTableSays) {
    EXPECT_EQ(results.value("goback").toString(), "S:goback");
    EXPECT_EQ(results.value("goforward").toString(), "S:goforward");
    EXPECT_EQ(results.value("keyboard").toString(), "S:");
    EXPECT_EQ(results.value("profileMissing").toString(), "F0:queryProfile load xml file failed!");
    EXPECT_EQ(results.value("profileNoXpath").toString(), "none");
}

TEST(Bridge, UnknownMalformedAndWindowQueriesGetNoAnswer) {
    EXPECT_EQ(results.value("capital").toString(), "none");
    EXPECT_EQ(results.value("maxContains").toString(), "none");
    EXPECT_EQ(results.value("restore").toString(), "none");
    EXPECT_EQ(results.value("notJson").toString(), "none");
}

TEST(Bridge, MoveWindowTakesExactlyFourNumbers) {
    EXPECT_EQ(results.value("move4").toString(), "S:");
    EXPECT_EQ(results.value("move3").toString(), "none");
    EXPECT_EQ(geometryAfterRun.topLeft(), geometryBeforeMove.topLeft() + QPoint(5, 5));
    EXPECT_EQ(geometryAfterRun.size(), QSize(1100, 750));
}

TEST(Bridge, PushedEventsReachTheFirstRegistrationOnly) {
    EXPECT_EQ(results.value("message").toString(), "S:sendMsgToMainBrowser success");
    EXPECT_EQ(results.value("events").toString(), "first:hello");
    EXPECT_EQ(results.value("navArgs").toString(), "boolean,boolean");
}

TEST(Bridge, PagesFromOtherOriginsAreRefused) {
    EXPECT_FALSE(reports.contains("remote"));
    EXPECT_TRUE(
        logText().contains("Application Error: refused a page query from http://127.0.0.1"));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryFile log;
    log.open();
    logPath = log.fileName();

    ClientApp clientApp;
    engine::QtEngine engine;
    engine::setInstance(&engine);
    engine::Settings settings;
    settings.logFile = logPath;
    settings.userAgent = "Tallowbrook";
    engine.initialize(settings, &clientApp);
    ClientHandler handler({});
    ClientHandler::setInstance(&handler);
    engine.registerSchemeHandlerFactory(
        "velmora", "settings", QSharedPointer<webhost::LocalSchemeHandlerFactory>::create());

    platform::Services services = platform::systemServices();
    int result = 1;
    {
        Application app(argc, argv, services);
        const QString folder = QCoreApplication::applicationDirPath() + "/";
        QDir().mkpath(folder + "Resources");
        QFile conf(folder + "Resources/conf.xml");
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        conf.write(
            "<root><client name=\"Quillmere\" "
            "loadPath=\"velmora://settings/local/resources/bridge_test.html\"/></root>");
        conf.close();
        app.startInstance();
        copyPage("bridge_test.html");
        if (!waitFor([] { return Application::mainWindow() != nullptr; }, 10000))
            return 1;
        Window* window = Application::mainWindow();
        window->show();
        geometryBeforeMove = window->geometry();
        QObject::connect(window->mainView(), &QCefWebView::jsMessage,
                         [](const QString& name, const engine::QueryCallbackPtr&) {
                             const QJsonObject query =
                                 QJsonDocument::fromJson(name.toUtf8()).object();
                             if (query.value("funcname").toString() != "testReport")
                                 return;
                             const QString text = query.value("results").toString();
                             reports.append(text);
                             if (text != "remote")
                                 results = QJsonDocument::fromJson(text.toUtf8()).object();
                         });
        const bool reported = waitFor([] { return !results.isEmpty(); }, 60000);
        geometryAfterRun = window->geometry();

        QFile remotePage(QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/remote.html"));
        remotePage.open(QIODevice::ReadOnly);
        PageServer server(remotePage.readAll());
        server.listen(QHostAddress::LocalHost);
        window->openPopup(
            QStringLiteral("http://127.0.0.1:%1/remote.html").arg(server.serverPort()),
            QSize(400, 300));
        PopWidget* popup = window->popupViews().first();
        QObject::connect(popup->view(), &QCefWebView::jsMessage,
                         [](const QString& name, const engine::QueryCallbackPtr&) {
                             if (name.contains("remote"))
                                 reports.append("remote");
                         });
        waitFor([] { return logText().contains("refused a page query from http"); }, 20000);
        waitFor([] { return false; }, 500);

        ::testing::InitGoogleTest(&argc, argv);
        result = reported ? RUN_ALL_TESTS() : 2;
        if (!reported)
            fprintf(stderr, "the test page never reported\n%s\n", qPrintable(logText()));
    }
    engine.shutdown();
    ClientHandler::setInstance(nullptr);
    engine::setInstance(nullptr);
    return result;
}
