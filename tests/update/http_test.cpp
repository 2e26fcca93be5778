// The HTTP client and the update check against web servers on 127.0.0.1.

#include <QApplication>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

#include "tests/commands/qt_printers.h"
#include "tests/update/http_fixtures.h"
#include "update/http_request_worker.h"
#include "update/update_check.h"
#include "update/update_dlg.h"

namespace {

const QByteArray kAgent = "Agent name goes here";

// Records the requests and answers each with an empty 200.
ScriptedServer* recordingServer() {
    return new ScriptedServer([](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
}

// Sends `params` and waits for the worker's answer.
bool sendAndWait(HttpRequestWorker& worker, const HttpRequestParams& params) {
    bool finished = false;
    // The connection ends with this call: a later send must not reach `finished`.
    QObject call;
    QObject::connect(&worker, &HttpRequestWorker::on_execution_finished, &call,
                     [&finished](HttpRequestWorker*) { finished = true; });
    worker.send(params);
    return waitUntil([&] { return finished; });
}

// Every modal dialog that opens while it lives: recorded, then handled by `onOpen` (closed
// when that does not close it).
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(updateDlg*)> onOpen = nullptr)
        : onOpen_(std::move(onOpen)) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            auto* dialog = qobject_cast<updateDlg*>(modal);
            opened.append(dialog);
            if (dialog) {
                positions.append(dialog->pos());
                auto* stack = dialog->findChild<QStackedWidget*>();
                pages.append(stack ? stack->currentIndex() : -1);
                if (onOpen_)
                    onOpen_(dialog);
            }
            if (QApplication::activeModalWidget() == modal)
                modal->close();
        });
        timer_.start();
    }

    QList<updateDlg*> opened;
    QList<QPoint> positions;
    QList<int> pages;

  private:
    std::function<void(updateDlg*)> onOpen_;
    QTimer timer_;
};

// The check's own last log line is the answer's body; it marks the check as handled.
bool checkHandled(const QString& logged, int linesBefore) {
    return waitUntil([&] { return engineLogText().count(logged) > linesBefore; });
}

// Runs one check against the nginx path `prefix` until its answer is handled.
void runCheck(UpdateCheck& check, const QString& expectedLog, bool showLatest = false) {
    const int before = engineLogText().count(expectedLog);
    check.doCheckUpdate(QStringLiteral("AB"), QStringLiteral("1.0"), QStringLiteral("2.3"),
                        showLatest);
    ASSERT_TRUE(checkHandled(expectedLog, before)) << engineLogText().toStdString();
}

}  // namespace

TEST(EncodeHeaderAttribute, QuotedFormUnlessAByteNeedsTheExtendedForm) {
    EXPECT_EQ(encodeHeaderAttribute("name", "a\"b"), "name=\"a\\\"b\"");
    EXPECT_EQ(encodeHeaderAttribute("name", "a b.txt"), "name=\"a b.txt\"");
    EXPECT_EQ(encodeHeaderAttribute("filename", "a/b"), "filename=\"ab\"; filename*=utf-8''a%2Fb");
    EXPECT_EQ(encodeHeaderAttribute("name", "x\\y"), "name=\"xy\"; name*=utf-8''x%5Cy");
    EXPECT_EQ(encodeHeaderAttribute("name", QString::fromUtf8("é-1")),
              "name=\"-1\"; name*=utf-8''%C3%A9%2D1");
    EXPECT_EQ(encodeHeaderAttribute("name", QString("a\tb") + QChar(0x7f)),
              "name=\"ab\"; name*=utf-8''a%09b%7F");
    // Nothing left to quote.
    EXPECT_EQ(encodeHeaderAttribute("name", ""), "name=\"\"; name*=utf-8''");
}

TEST(HttpRequestWorker, GetAndHeadCarryTheVariablesInTheQuery) {
    std::unique_ptr<ScriptedServer> server(recordingServer());
    HttpRequestWorker worker;
    HttpRequestParams params;
    params.url = server->url("/q");
    params.vars = {{"b", "x y"}, {"a", QString::fromUtf8("1&2=3/é~+")}, {"c-._~", ""}};
    ASSERT_TRUE(sendAndWait(worker, params));
    params.method = "HEAD";
    ASSERT_TRUE(sendAndWait(worker, params));

    ASSERT_EQ(server->requests().size(), 2);
    const QByteArray target = "/q?a=1%262%3D3%2F%C3%A9~%2B&b=x%20y&c-._~=";
    EXPECT_EQ(server->requests()[0].method, "GET");
    EXPECT_EQ(server->requests()[0].target, target);
    EXPECT_EQ(server->requests()[0].header("User-Agent"), kAgent);
    EXPECT_EQ(server->requests()[1].method, "HEAD");
    EXPECT_EQ(server->requests()[1].target, target);
    EXPECT_EQ(worker.networkError, QNetworkReply::NoError);
}

TEST(HttpRequestWorker, OtherMethodsSendTheVariablesUrlEncoded) {
    std::unique_ptr<ScriptedServer> server(recordingServer());
    HttpRequestWorker worker;
    HttpRequestParams params;
    params.url = server->url("/form");
    params.vars = {{"name", "a b"}, {"count", "2"}};
    for (const char* method : {"POST", "PUT", "PATCH"}) {
        params.method = method;
        ASSERT_TRUE(sendAndWait(worker, params)) << method;
    }
    params.method = "DELETE";
    ASSERT_TRUE(sendAndWait(worker, params));

    ASSERT_EQ(server->requests().size(), 4);
    for (int i = 0; i < 3; ++i) {
        const ScriptedServer::Request& request = server->requests()[i];
        EXPECT_EQ(request.method, QByteArray(i == 0 ? "POST" : i == 1 ? "PUT" : "PATCH"));
        EXPECT_EQ(request.target, "/form");
        EXPECT_EQ(request.body, "count=2&name=a%20b");
        EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(request.header("User-Agent"), kAgent);
    }
    EXPECT_EQ(server->requests()[3].method, "DELETE");
    EXPECT_EQ(server->requests()[3].target, "/form");
}

TEST(HttpRequestWorker, AFileMakesTheBodyMultipart) {
    QTemporaryDir dir;
    const QString data = dir.path() + "/data.bin";
    const QByteArray content("\x00\x01\r\n--binary", 12);
    ASSERT_TRUE(writeFile(data, content));
    std::unique_ptr<ScriptedServer> server(recordingServer());
    HttpRequestWorker worker;
    HttpRequestParams params;
    params.url = server->url("/upload");
    params.method = "POST";
    params.layout = VarLayout::FormUrlEncoded;
    params.vars = {{"z", "last"}, {QString::fromUtf8("ä"), "1"}};
    params.files = {
        {"first", data, "", "application/octet-stream"},
        {"second", data, "up/load.txt", ""},
        {"missing", dir.path() + "/none.bin", "", ""},
        {"", data, "", ""},
        {"folder", dir.path(), "", ""},
    };
    ASSERT_TRUE(sendAndWait(worker, params));

    ASSERT_EQ(server->requests().size(), 1);
    const ScriptedServer::Request& request = server->requests()[0];
    const QByteArray contentType = request.header("Content-Type");
    const QRegularExpression form("^multipart/form-data; boundary=(__-{23}\\d+)$");
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentType));
    ASSERT_TRUE(match.hasMatch()) << contentType.toStdString();
    const QByteArray boundary = match.captured(1).toLatin1();
    const QByteArray expected =
        "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"z\"\r\n"
        "Content-Type: text/plain\r\n\r\n"
        "last\r\n"
        "--" +
        boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"\"; name*=utf-8''%C3%A4\r\n"
        "Content-Type: text/plain\r\n\r\n"
        "1\r\n"
        "--" +
        boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"first\"; filename=\"data.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: binary\r\n\r\n" +
        content + "\r\n" + "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"second\"; filename=\"upload.txt\"; "
        "filename*=utf-8''up%2Fload%2Etxt\r\n"
        "Content-Transfer-Encoding: binary\r\n\r\n" +
        content + "\r\n" + "--" + boundary + "--";
    EXPECT_EQ(request.body, expected);
}

TEST(HttpRequestWorker, AFailedRequestLeavesTheBodyEmpty) {
    HttpRequestWorker worker;
    HttpRequestParams params;
    params.url = nginx().url("/no/such/file");
    ASSERT_TRUE(sendAndWait(worker, params));
    EXPECT_EQ(worker.networkError, QNetworkReply::ContentNotFoundError);
    EXPECT_FALSE(worker.errorText.isEmpty());
    EXPECT_TRUE(worker.responseBody.isEmpty());

    ASSERT_TRUE(nginx().putFile("hello.txt", "hello"));
    params.url = nginx().url("/hello.txt");
    ASSERT_TRUE(sendAndWait(worker, params));
    EXPECT_EQ(worker.networkError, QNetworkReply::NoError);
    EXPECT_TRUE(worker.errorText.isEmpty());
    EXPECT_EQ(worker.responseBody, "hello");
}

TEST(UpdateCheck, RequestCarriesTheQueryInKeyOrderAndTheAgent) {
    UpdateCheck check(nginx().url("/current/"), nullptr);
    runCheck(check, "{\"code\":1}");
    const int before = nginx().requestsFor("/current/api/system/upgrade").size();
    check.doCheckUpdate(QString::fromUtf8("Mouse X/é"), "1.0+b", "2.3", false);
    ASSERT_TRUE(waitUntil(
        [&] { return nginx().requestsFor("/current/api/system/upgrade").size() > before; }));

    const QStringList lines = nginx().requestsFor("/current/api/system/upgrade");
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2],
              "GET|/current/api/system/upgrade?deviceid=AB&fwversion=1.0&noencrypt=1&test=1&"
              "version=2.3|Agent name goes here|-|200");
    EXPECT_EQ(lines.last(),
              "GET|/current/api/system/upgrade?deviceid=Mouse%20X%2F%C3%A9&fwversion=1.0%2Bb&"
              "noencrypt=1&test=1&version=2.3|Agent name goes here|-|200");
}

TEST(UpdateCheck, WithoutAServerNothingIsAsked) {
    const QString skipped = "Update Info: no updateServer in conf.xml, update check skipped";
    const int logged = engineLogText().count(skipped);
    const int requests = nginx().accessLog().size();
    UpdateCheck check("", nullptr);
    check.doCheckUpdate("AB", "1.0", "2.3", true);
    pumpFor(200);
    EXPECT_EQ(engineLogText().count(skipped), logged + 1);
    EXPECT_EQ(nginx().accessLog().size(), requests);
}

TEST(UpdateCheck, AnswersThatOpenNoDialog) {
    ModalWatcher watcher;
    struct Case {
        const char* prefix;
        const char* logged;
        int offers;  // FindNewVersion signals
    };
    const Case cases[] = {
        {"/offer-hidden",
         "{\"code\":0,\"ret\":{\"type\":\"1\",\"deployment\":\"client\",\"clientPackage\":\"u\"}}",
         1},
        {"/offer-empty", "{\"code\":0,\"ret\":{\"type\":\"0\",\"deployment\":\"\"}}", 1},
        // U+FEFF then "0" is not "0".
        {"/offer-marked",
         "{\"code\":0,\"ret\":{\"type\":\"\xEF\xBB\xBF"
         "0\",\"deployment\":\"client\"}}",
         1},
        {"/current", "{\"code\":1}", 0},
        {"/odd-code", "{\"code\":\"0\",\"ret\":{\"type\":\"0\",\"deployment\":\"html\"}}", 0},
        {"/broken", "not json", 0},
    };
    for (const Case& c : cases) {
        UpdateCheck check(nginx().url(c.prefix), nullptr);
        int offers = 0;
        int none = 0;
        QObject::connect(&check, &UpdateCheck::FindNewVersion, [&] { ++offers; });
        QObject::connect(&check, &UpdateCheck::cantFindNewVersion, [&] { ++none; });
        runCheck(check, c.logged);
        EXPECT_EQ(offers, c.offers) << c.prefix;
        EXPECT_EQ(none, 0) << c.prefix;
    }
    pumpFor(100);
    EXPECT_TRUE(watcher.opened.isEmpty());
}

TEST(UpdateAnswer, AStringsLeadingByteOrderMarkIsPartOfIt) {
    const UpdateAnswer marked = readUpdateAnswer(
        "{\"code\":0,\"ret\":{\"type\":\"0\",\"deployment\":\"\xEF\xBB\xBF"
        "client,html\",\"clientPackage\":\"\\\\\xEF\xBB\xBFu\"}}");
    EXPECT_EQ(marked.kind, UpdateAnswer::Kind::Offer);
    EXPECT_TRUE(marked.opensDialog);
    EXPECT_EQ(marked.deployment, QStringList({QString(QChar(0xFEFF)) + "client", "html"}));
    EXPECT_EQ(marked.ret.value("clientPackage").toString(), QString("\\") + QChar(0xFEFF) + "u");
    // One that leads the whole text marks its encoding.
    EXPECT_EQ(readUpdateAnswer("\xEF\xBB\xBF{\"code\":1}").kind, UpdateAnswer::Kind::Current);
    // After a lone backslash the mark is no escape, and the text no JSON.
    EXPECT_EQ(readUpdateAnswer("{\"code\":1,\"a\":\"\\\xEF\xBB\xBF\"}").kind,
              UpdateAnswer::Kind::Ignored);
}

TEST(UpdateCheck, NetworkFailureIsLoggedWithTheErrorText) {
    ModalWatcher watcher;
    UpdateCheck check(nginx().url("/nowhere"), nullptr);
    const int before = engineLogText().count("Error: ");
    check.doCheckUpdate("AB", "1.0", "2.3", false);
    ASSERT_TRUE(waitUntil([&] { return engineLogText().count("Error: ") > before; }));
    EXPECT_TRUE(engineLogText().contains(QRegularExpression("Error: [^\\n]*Not Found \\n")))
        << engineLogText().toStdString();
    EXPECT_TRUE(watcher.opened.isEmpty());
}

TEST(UpdateCheck, AnOfferOfTypeZeroOpensTheDialogOnTheMainWindowsCentre) {
    QWidget mainWindow;
    mainWindow.setGeometry(100, 120, 400, 300);
    ModalWatcher watcher;
    UpdateCheck check(nginx().url("/offer"), &mainWindow);
    int offers = 0;
    QObject::connect(&check, &UpdateCheck::FindNewVersion, [&] { ++offers; });
    runCheck(check, "{\"code\":0,\"ret\":{\"type\":\"0\",\"deployment\":\"html,,firmware\"}}");

    ASSERT_EQ(watcher.opened.size(), 1);
    ASSERT_NE(watcher.opened[0], nullptr);
    EXPECT_EQ(watcher.pages[0], 0);
    EXPECT_EQ(offers, 1);
    // The window's centre (299, 269) less half the dialog.
    const QSize dialog = watcher.opened[0]->size();
    EXPECT_EQ(watcher.positions[0],
              QPoint(100 + 199 - dialog.width() / 2, 120 + 149 - dialog.height() / 2));
}

TEST(UpdateCheck, ShowLatestOpensTheLatestVersionPageOnlyWhenAsked) {
    ModalWatcher watcher;
    UpdateCheck check(nginx().url("/current"), nullptr);
    runCheck(check, "{\"code\":1}", false);
    EXPECT_TRUE(watcher.opened.isEmpty());
    runCheck(check, "{\"code\":1}", true);
    ASSERT_EQ(watcher.opened.size(), 1);
    ASSERT_NE(watcher.opened[0], nullptr);
    // Not the offer's page.
    EXPECT_NE(watcher.pages[0], 0);
}

TEST(UpdateCheck, TheDialogsUpdateRequestClosesTheApplication) {
    ModalWatcher watcher([](updateDlg* dialog) { emit dialog->needupdate(); });
    UpdateCheck check(nginx().url("/offer"), nullptr);
    int closeApp = 0;
    QObject::connect(&check, &UpdateCheck::closeApp, [&] { ++closeApp; });
    runCheck(check, "{\"code\":0,\"ret\":{\"type\":\"0\",\"deployment\":\"html,,firmware\"}}");
    ASSERT_EQ(watcher.opened.size(), 1);
    EXPECT_EQ(closeApp, 1);
}
