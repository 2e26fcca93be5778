// Pages under the page folder drive real commands through the real engine.

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "app/window.h"
#include "tests/commands/qt_printers.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

QJsonObject results;
QStringList reports;
QRect geometryBeforeMove;
QRect geometryAfterRun;
QSize minimumSize;
QString logPath;

QList<QUrl> systemUrls;

// Catches what reaches the system's URL handlers.
class UrlRecorder : public QObject {
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { systemUrls.append(url); }
};

QString logText() {
    QFile file(logPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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
    // Never beyond the screens, never below the window's own minimum.
    const QSize screens = QGuiApplication::primaryScreen()->availableVirtualSize();
    EXPECT_EQ(geometryAfterRun.size(), QSize(1100, 750).boundedTo(screens).expandedTo(minimumSize));
}

TEST(Bridge, PushedEventsReachTheFirstRegistrationOnly) {
    EXPECT_EQ(results.value("message").toString(), "S:sendMsgToMainBrowser success");
    // The refused protocol is the one page error.
    EXPECT_EQ(results.value("events").toString(), "first:pageError|first:hello");
    EXPECT_EQ(results.value("navArgs").toString(), "boolean,boolean");
}

TEST(Bridge, OnlySpotifyLinksGoToTheSystem) {
    EXPECT_EQ(results.value("steam").toString(), "navigated");
    EXPECT_EQ(systemUrls, QList<QUrl>{QUrl("spotify:track:42")});
}

TEST(Bridge, PagesFromOtherOriginsAreRefused) {
    EXPECT_FALSE(reports.contains("remote"));
    EXPECT_TRUE(
        logText().contains("Application Error: refused a page query from http://127.0.0.1"));
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryFile log;
    log.open();
    logPath = log.fileName();
    int result = 1;
    {
        ProgramHarness program(argc, argv, logPath);
        UrlRecorder system;
        QDesktopServices::setUrlHandler("spotify", &system, "open");
        QDesktopServices::setUrlHandler("steam", &system, "open");
        Window* window = program.start(
            QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/bridge_test.html"),
            QStringLiteral("bridge_test.html"));
        if (!window)
            return 1;
        window->show();
        geometryBeforeMove = window->geometry();
        program.onReport([](const QJsonObject& report) { results = report; });
        const bool reported = ProgramHarness::waitFor([] { return !results.isEmpty(); }, 60000);
        geometryAfterRun = window->geometry();
        minimumSize = window->minimumSize();

        QFile remotePage(QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/remote.html"));
        remotePage.open(QIODevice::ReadOnly);
        PageServer server(remotePage.readAll());
        server.listen(QHostAddress::LocalHost);
        window->openPopup(
            QStringLiteral("http://127.0.0.1:%1/remote.html").arg(server.serverPort()),
            QSize(400, 300), QStringLiteral("remote.html"));
        QObject::connect(window->popupViews().first()->view(), &QCefWebView::jsMessage,
                         [](const QString& name, const engine::QueryCallbackPtr&) {
                             if (name.contains("remote"))
                                 reports.append("remote");
                         });
        ProgramHarness::waitFor([] { return logText().contains("refused a page query from http"); },
                                20000);
        ProgramHarness::pump(500);

        ::testing::InitGoogleTest(&argc, argv);
        result = reported ? RUN_ALL_TESTS() : 2;
        if (!reported)
            fprintf(stderr, "the test page never reported\n%s\n", qPrintable(logText()));
    }
    return result;
}

#include "bridge_test.moc"
