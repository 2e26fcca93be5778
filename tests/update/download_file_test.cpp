// The page's downloadFile command through the window's dispatcher, downloading from nginx.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

#include "app/application.h"
#include "app/window.h"
#include "tests/update/http_fixtures.h"
#include "tests/webhost/fake_engine.h"
#include "update/update_environment.h"
#include "webhost/client_handler.h"

namespace {

using Answers = QList<fake::RecordingCallback::Answer>;

class DownloadFile : public ::testing::Test {
  protected:
    void SetUp() override {
        engine::setInstance(&engine_);
        ClientHandler::setInstance(&handler_);
        window_ = std::make_unique<Window>(
            AppContext{QCoreApplication::applicationDirPath() + "/", nullptr, &handler_, nullptr});
        ASSERT_EQ(engine_.createRequests().size(), 1);
        engine_.completeCreation(0);
        fake::pumpEvents();
        // The downloads land in the application folder, here the test's own.
        appFolder_ = Application::appFolder();
        relativePath_ = QStringLiteral("downloads-%1/").arg(QCoreApplication::applicationPid());
        update::Environment environment;
        environment.appFolder = appFolder_;
        update::setEnvironment(environment);
    }
    void TearDown() override {
        window_.reset();
        fake::pumpEvents();
        ClientHandler::setInstance(nullptr);
        engine::setInstance(nullptr);
        update::setEnvironment(update::Environment());
        QDir(appFolder_ + relativePath_).removeRecursively();
    }

    QSharedPointer<fake::RecordingCallback> send(const QString& url, const QString& relativePath) {
        QJsonObject query{{"funcname", "downloadFile"}};
        if (!url.isNull())
            query.insert("downloadUrl", url);
        if (!relativePath.isNull())
            query.insert("relativePath", relativePath);
        const auto callback = QSharedPointer<fake::RecordingCallback>::create();
        window_->onJsMessage(QString::fromUtf8(QJsonDocument(query).toJson()), callback);
        return callback;
    }
    bool answeredOnce(const QSharedPointer<fake::RecordingCallback>& callback, bool success,
                      const QString& text) {
        const Answers& answers = callback->answers;
        EXPECT_EQ(answers.size(), 1);
        if (answers.size() != 1)
            return false;
        EXPECT_EQ(answers[0].success, success);
        EXPECT_EQ(answers[0].code, 0);
        EXPECT_EQ(answers[0].text, text);
        return answers[0].success == success && answers[0].text == text;
    }

    fake::Engine engine_;
    ClientHandler handler_{QStringList()};
    std::unique_ptr<Window> window_;
    QString appFolder_;
    QString relativePath_;
};

}  // namespace

TEST_F(DownloadFile, AFilePresentIsAnsweredAtOnceWithoutADownload) {
    ASSERT_TRUE(QDir().mkpath(appFolder_ + relativePath_));
    ASSERT_TRUE(writeFile(appFolder_ + relativePath_ + "present.bin", "here"));
    const auto callback = send(nginx().url("/files/present.bin?v=1"), relativePath_);
    EXPECT_TRUE(answeredOnce(callback, true, appFolder_ + relativePath_ + "present.bin"));
    pumpFor(200);
    EXPECT_TRUE(nginx().requestsFor("/files/present.bin").isEmpty());
}

TEST_F(DownloadFile, ANewFileIsAnsweredWhenItHasArrived) {
    const QByteArray source = randomBytes(150000);
    ASSERT_TRUE(nginx().putFile("files/new.bin", source));
    const auto callback = send(nginx().url("/files/new.bin?v=2"), relativePath_);
    EXPECT_TRUE(callback->answers.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !callback->answers.isEmpty(); }));
    pumpFor(100);

    EXPECT_TRUE(answeredOnce(callback, true, appFolder_ + relativePath_ + "new.bin"));
    EXPECT_EQ(readAll(appFolder_ + relativePath_ + "new.bin"), source);
}

TEST_F(DownloadFile, AFailedDownloadAnswersDownloadFaild) {
    const auto callback = send(nginx().url("/files/not-there.bin"), relativePath_);
    ASSERT_TRUE(waitUntil([&] { return !callback->answers.isEmpty(); }));
    pumpFor(100);
    EXPECT_TRUE(answeredOnce(callback, false, "downloadFaild"));
    EXPECT_FALSE(QFileInfo::exists(appFolder_ + relativePath_ + "not-there.bin"));
}

TEST_F(DownloadFile, AnInterruptedFileIsNeverTakenForAWholeOne) {
    const QByteArray source = randomBytes(300000);
    ASSERT_TRUE(nginx().putFile("files/big.bin", source));
    ScriptedServer dropping([&](const ScriptedServer::Request&, QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + source.left(250000));
        socket->flush();
        QTimer::singleShot(300, socket, [socket] { socket->abort(); });
    });
    const auto failed = send(dropping.url("/files/big.bin"), relativePath_);
    ASSERT_TRUE(waitUntil([&] { return !failed->answers.isEmpty(); }));
    EXPECT_TRUE(answeredOnce(failed, false, "downloadFaild"));
    EXPECT_FALSE(QFileInfo::exists(appFolder_ + relativePath_ + "big.bin"));

    // Asked again, it downloads the rest instead of answering with the part.
    const auto resumed = send(nginx().url("/files/big.bin"), relativePath_);
    EXPECT_TRUE(resumed->answers.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !resumed->answers.isEmpty(); }));
    EXPECT_TRUE(answeredOnce(resumed, true, appFolder_ + relativePath_ + "big.bin"));
    EXPECT_EQ(readAll(appFolder_ + relativePath_ + "big.bin"), source);
    EXPECT_EQ(nginx().requestsFor("/files/big.bin").value(0).section('|', 3, 4),
              "bytes=204800-|206");
}

TEST_F(DownloadFile, AUrlWithoutAFileNameIsNotCaptured) {
    for (const char* path : {"/files/", "/files/..", "/files/a\\..\\b"}) {
        const auto callback = send(nginx().url(path), relativePath_);
        EXPECT_TRUE(answeredOnce(callback, false, "url file is not captured")) << path;
    }
}

TEST_F(DownloadFile, AFolderOutsideTheApplicationFolderIsRefused) {
    ASSERT_TRUE(nginx().putFile("files/outside.bin", "x"));
    const QString above = QFileInfo(appFolder_ + "..").absoluteFilePath() + "/";
    ASSERT_TRUE(writeFile(above + "outside.bin", "not for pages"));
    for (const QString& folder : {QString("../"), relativePath_ + "../../", above,
                                  QString("C:/Windows/"), QString("..\\")}) {
        const auto callback = send(nginx().url("/files/outside.bin"), folder);
        EXPECT_TRUE(answeredOnce(callback, false, "downloadFaild")) << folder.toStdString();
    }
    QFile::remove(above + "outside.bin");
    pumpFor(200);
    EXPECT_TRUE(nginx().requestsFor("/files/outside.bin").isEmpty());
}

TEST_F(DownloadFile, OnlyWebUrlsAreFetched) {
    const QString secret = appFolder_ + "../secret.txt";
    ASSERT_TRUE(writeFile(secret, "local"));
    for (const QString& url : {QUrl::fromLocalFile(QFileInfo(secret).absoluteFilePath()).toString(),
                               QString("ftp://127.0.0.1/secret.txt")}) {
        const auto callback = send(url, relativePath_);
        EXPECT_TRUE(answeredOnce(callback, false, "downloadFaild")) << url.toStdString();
    }
    pumpFor(200);
    EXPECT_FALSE(QFileInfo::exists(appFolder_ + relativePath_ + "secret.txt"));
    QFile::remove(secret);
}

TEST_F(DownloadFile, MissingArgumentsGetNoAnswer) {
    EXPECT_TRUE(send(QString(), relativePath_)->answers.isEmpty());
    EXPECT_TRUE(send(nginx().url("/files/x.bin"), QString())->answers.isEmpty());
}

TEST_F(DownloadFile, AWindowClosingDuringADownloadEndsItWithoutAnAnswer) {
    // Answers nothing: the download stays in flight until the window goes.
    ScriptedServer silent([](const ScriptedServer::Request&, QTcpSocket*) {});
    const auto callback = send(silent.url("/slow.bin"), relativePath_);
    ASSERT_TRUE(waitUntil([&] { return !silent.requests().isEmpty(); }));
    window_.reset();
    pumpFor(200);
    EXPECT_TRUE(callback->answers.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(appFolder_ + relativePath_ + "slow.bin"));
}
