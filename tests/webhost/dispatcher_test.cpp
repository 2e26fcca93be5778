#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "app/window.h"
#include "commands/command_dispatcher.h"
#include "fake_engine.h"
#include "webhost/client_handler.h"
#include "webhost/engine/message_router.h"

namespace {

class UrlRecorder : public QObject {
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { urls.append(url); }

  public:
    QList<QUrl> urls;
};

class DispatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine::setInstance(&engine_);
        ClientHandler::setInstance(&handler_);
        window_ =
            std::make_unique<Window>(AppContext{QCoreApplication::applicationDirPath() + "/",
                                                nullptr, &handler_, nullptr, [] { return true; }});
        // The main view asked for its browser while the window was built.
        ASSERT_EQ(engine_.createRequests().size(), 1);
        main_ = engine_.completeCreation(0);
        fake::pumpEvents();
        main_->clearCalls();
    }
    void TearDown() override {
        window_.reset();
        fake::pumpEvents();
        ClientHandler::setInstance(nullptr);
        engine::setInstance(nullptr);
    }

    // The answers one query received.
    QList<fake::RecordingCallback::Answer> send(const QString& text) {
        const auto callback = QSharedPointer<fake::RecordingCallback>::create();
        window_->onJsMessage(text, callback);
        return callback->answers;
    }

    static bool answeredOnce(const QList<fake::RecordingCallback::Answer>& answers,
                             const QString& success) {
        return answers.size() == 1 && answers[0].success && answers[0].text == success;
    }

    fake::Engine engine_;
    ClientHandler handler_{QStringList()};
    std::unique_ptr<Window> window_;
    fake::BrowserPtr main_;
};

TEST_F(DispatcherTest, NamesMatchWholeAndCaseSensitive) {
    CommandDispatcher dispatcher(*window_);
    for (const QString& name :
         QStringList{"closeapp", "CloseApp", "closeApp ", " closeApp", "GetDevicesList",
                     "getdeviceslist", "modifyMouseAc", "modifyMouseAccelX", "Goback", "gobac",
                     "gobackk", "", "maxsizeWindow", "restoreWindow", "minisizeWindow"}) {
        const auto callback = QSharedPointer<fake::RecordingCallback>::create();
        EXPECT_FALSE(dispatcher.dispatch(name, {{"funcname", name}}, callback)) << qPrintable(name);
        EXPECT_TRUE(callback->answers.isEmpty()) << qPrintable(name);
    }
    EXPECT_TRUE(main_->calls().isEmpty());

    // The near names are commands of their own.
    EXPECT_EQ(CommandDispatcher::commandNames().count("modifyMouseAcce"), 1);
    EXPECT_EQ(CommandDispatcher::commandNames().count("modifyMouseAccel"), 1);
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"closeApp\"}"), "modify conf sucess"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"goback\"}"), "goback"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"goforward\"}"), "goforward"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"getWindowsKeyboreadConfig\"}"), ""));
    ASSERT_EQ(main_->calls().size(), 2);
    EXPECT_EQ(main_->calls()[0].method, "goBack");
    EXPECT_EQ(main_->calls()[1].method, "goForward");
}

TEST_F(DispatcherTest, UnparsableQueriesAreDroppedUnanswered) {
    for (const QString& text :
         QStringList{"", "goback", "{\"funcname\":\"goback\"", "[\"goback\"]", "\"goback\"", "42",
                     "{\"name\":\"goback\"}", "{\"FuncName\":\"goback\"}", "{\"funcname\":null}",
                     "{\"funcname\":1}", "{\"funcname\":\"unknownCommand\"}", "{}"}) {
        EXPECT_TRUE(send(text).isEmpty()) << qPrintable(text);
    }
    EXPECT_TRUE(main_->calls().isEmpty());
}

TEST_F(DispatcherTest, MissingRequiredArgumentsGiveNoAnswer) {
    handler_.setViewKey("pop.html");
    const fake::BrowserPtr popup = engine_.announceBrowser(&handler_, "about:blank");
    UrlRecorder desktop;
    QDesktopServices::setUrlHandler("https", &desktop, "open");

    for (const QString& text : QStringList{
             "{\"funcname\":\"loadurl\"}",
             "{\"funcname\":\"openUrl\"}",
             "{\"funcname\":\"openView\",\"relativeUrl\":\"pop.html\"}",
             "{\"funcname\":\"openView\",\"size\":\"400,300\"}",
             "{\"funcname\":\"sendMsgToMainBrowser\",\"url\":\"pop.html\"}",
             "{\"funcname\":\"sendMsgToMainBrowser\",\"msg\":\"hello\"}",
             "{\"funcname\":\"queryProfile\",\"filePath\":\"profile.xml\"}",
             "{\"funcname\":\"queryProfile\",\"xpath\":\"/root\"}",
         }) {
        EXPECT_TRUE(send(text).isEmpty()) << qPrintable(text);
    }
    fake::pumpEvents();
    EXPECT_TRUE(main_->calls().isEmpty());
    EXPECT_TRUE(popup->calls().isEmpty());
    EXPECT_TRUE(window_->popupViews().isEmpty());
    EXPECT_TRUE(desktop.urls.isEmpty());

    // With their arguments the same commands act.
    EXPECT_TRUE(send("{\"funcname\":\"loadurl\",\"url\":\"template/default/b.html\"}").isEmpty());
    ASSERT_EQ(main_->count("loadUrl"), 1);
    EXPECT_TRUE(
        main_->calls("loadUrl")[0].arguments[0].toString().endsWith("template/default/b.html"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"openUrl\",\"url\":\"https://example.com/\"}"),
                             "open successed"));
    EXPECT_TRUE(fake::pumpUntil([&] { return !desktop.urls.isEmpty(); }));
    QDesktopServices::unsetUrlHandler("https");
    // A number argument is read as its decimal text.
    EXPECT_TRUE(
        answeredOnce(send("{\"funcname\":\"sendMsgToMainBrowser\",\"url\":\"pop.html\",\"msg\":5}"),
                     "sendMsgToMainBrowser success"));
    ASSERT_EQ(popup->messages().size(), 1);
    EXPECT_EQ(popup->messages()[0].name, "onBrowserMsg");
    EXPECT_EQ(popup->messages()[0].arguments, QVariantList{QString("5")});
}

TEST_F(DispatcherTest, MaxsizeAnywhereFillsTheQueryingWindowAndRestoreTakesItBack) {
    fake::PageWindow page;
    handler_.setMainWindowHandle(page.winId());
    const QRect windowBefore = window_->geometry();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_NE(available, page.geometry());

    EXPECT_TRUE(send("{\"funcname\":\"maxsizeWindow\"}").isEmpty());
    fake::pumpEvents();
    EXPECT_EQ(page.geometry(), available);
    EXPECT_EQ(window_->geometry(), windowBefore);

    EXPECT_TRUE(send("{\"funcname\":\"restoreWindow\"}").isEmpty());
    fake::pumpEvents();
    EXPECT_EQ(page.geometry(), QRect(100, 100, 300, 200));

    // No JSON is needed, and maxsize wins over restore in the same text.
    EXPECT_TRUE(send("please maxsizeWindow now, then restoreWindow").isEmpty());
    fake::pumpEvents();
    EXPECT_EQ(page.geometry(), available);
    EXPECT_TRUE(send("restoreWindow").isEmpty());
    fake::pumpEvents();
    EXPECT_EQ(page.geometry(), QRect(100, 100, 300, 200));
    EXPECT_TRUE(main_->calls().isEmpty());
}

TEST_F(DispatcherTest, MaxsizeOnAChildHandleActsOnItsWindow) {
    fake::PageWindow page;
    auto* child = new QWidget(&page);
    child->setAttribute(Qt::WA_NativeWindow);
    handler_.setMainWindowHandle(child->winId());
    EXPECT_TRUE(send("{\"funcname\":\"maxsizeWindow\"}").isEmpty());
    fake::pumpEvents();
    EXPECT_EQ(page.geometry(), QGuiApplication::primaryScreen()->availableGeometry());
}

TEST_F(DispatcherTest, RestoreBeforeAnyMaxsizeGivesTheEmptyRectangle) {
    QWidget page(nullptr, Qt::FramelessWindowHint);
    page.setGeometry(100, 100, 300, 200);
    handler_.setMainWindowHandle(page.winId());
    EXPECT_TRUE(send("{\"funcname\":\"restoreWindow\"}").isEmpty());
    EXPECT_EQ(page.geometry(), QRect());
}

TEST_F(DispatcherTest, MinimiseRequestHidesTheMainWindowAndMinimisesOthers) {
    const QString request = QStringLiteral("{\"funcname\":\"minisizeWindow\"}");
    const QString query = QString::fromLatin1(engine::MessageRouter::kQueryMessage);
    const QString result = QString::fromLatin1(engine::MessageRouter::kResultMessage);
    main_->setUrl("velmora://settings/local/clients/template/default/index.html");
    window_->show();
    fake::pumpEvents();

    main_->setTopLevelWindow(window_->winId());
    handler_.onProcessMessageReceived(main_, query, {qint64(1), request, false});
    ASSERT_TRUE(fake::pumpUntil([&] { return main_->messages(result).size() == 1; }));
    EXPECT_FALSE(window_->isVisible());  // it stays in the tray

    fake::PageWindow page;
    main_->setTopLevelWindow(page.winId());
    handler_.onProcessMessageReceived(main_, query, {qint64(2), request, false});
    ASSERT_TRUE(fake::pumpUntil([&] { return main_->messages(result).size() == 2; }));
    EXPECT_TRUE(page.isMinimized());
    EXPECT_TRUE(page.isVisible());

    // An already minimised main window is left as it is.
    window_->showMinimized();
    fake::pumpEvents();
    main_->setTopLevelWindow(window_->winId());
    handler_.onProcessMessageReceived(main_, query, {qint64(3), request, false});
    ASSERT_TRUE(fake::pumpUntil([&] { return main_->messages(result).size() == 3; }));
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->isMinimized());
    for (const fake::ProcessMessage& answer : main_->messages(result))
        EXPECT_EQ(answer.arguments.mid(1), (QVariantList{true, 0, QString()}));
}

TEST_F(DispatcherTest, PopupPagesGetMessagesUnderTheirOwnRelativeUrl) {
    EXPECT_TRUE(
        send("{\"funcname\":\"openView\",\"relativeUrl\":\"view/pop.html\",\"size\":\"400,300\"}")
            .isEmpty());
    ASSERT_EQ(engine_.createRequests().size(), 2);
    const fake::BrowserPtr popup = engine_.completeCreation(1);

    const QString toMain =
        QString("{\"funcname\":\"sendMsgToMainBrowser\",\"url\":\"%1\",\"msg\":\"m\"}")
            .arg(window_->mainPageUrl());
    EXPECT_TRUE(answeredOnce(send(toMain), "sendMsgToMainBrowser success"));
    EXPECT_EQ(main_->messages("onBrowserMsg").size(), 1);
    EXPECT_TRUE(popup->messages("onBrowserMsg").isEmpty());

    EXPECT_TRUE(answeredOnce(
        send("{\"funcname\":\"sendMsgToMainBrowser\",\"url\":\"view/pop.html\",\"msg\":\"p\"}"),
        "sendMsgToMainBrowser success"));
    ASSERT_EQ(popup->messages("onBrowserMsg").size(), 1);
    EXPECT_EQ(popup->messages("onBrowserMsg")[0].arguments, QVariantList{QString("p")});
    EXPECT_EQ(main_->messages("onBrowserMsg").size(), 1);
}

TEST_F(DispatcherTest, PopupClosedAndOpenedAgainAtOnceStaysTracked) {
    const QString open =
        "{\"funcname\":\"openView\",\"relativeUrl\":\"view/pop.html\",\"size\":\"400,300\"}";
    send(open);
    ASSERT_EQ(window_->popupViews().size(), 1);
    PopWidget* first = window_->popupViews().first();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(first, &activate);
    ASSERT_EQ(window_->currentPopup(), first);

    send("{\"funcname\":\"closeView\"}");
    send(open);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the closed window goes
    ASSERT_EQ(window_->popupViews().size(), 1);
    EXPECT_NE(window_->popupViews().first(), first);
    const int requests = engine_.createRequests().size();
    send(open);
    EXPECT_EQ(engine_.createRequests().size(), requests);  // no second window for the page
    EXPECT_EQ(window_->findChildren<PopWidget*>().size(), 1);
}

TEST_F(DispatcherTest, PopupSizesMustBeTwoPositiveNumbersAndFitTheScreens) {
    for (const QString& size : QStringList{"400", "0,300", "400,-1", "a,b", "400,", ",300", ""}) {
        send(QString("{\"funcname\":\"openView\",\"relativeUrl\":\"p.html\",\"size\":\"%1\"}")
                 .arg(size));
        EXPECT_TRUE(window_->popupViews().isEmpty()) << qPrintable(size);
    }
    send("{\"funcname\":\"openView\",\"relativeUrl\":\"p.html\",\"size\":\"100000,100000\"}");
    ASSERT_EQ(window_->popupViews().size(), 1);
    const QSize screens = QGuiApplication::primaryScreen()->availableVirtualSize();
    EXPECT_EQ(window_->popupViews().first()->size(), screens);
    EXPECT_EQ(engine_.createRequests().last().bounds.size(), screens);
}

TEST_F(DispatcherTest, PageUrlsKeepTheirQueryAndFragment) {
    send("{\"funcname\":\"loadurl\",\"url\":\"/template/default/a b.html?tab=dpi#stage2\"}");
    ASSERT_EQ(main_->count("loadUrl"), 1);
    const QString loaded = main_->calls("loadUrl")[0].arguments[0].toString();
    EXPECT_TRUE(loaded.startsWith("file:///")) << qPrintable(loaded);
    EXPECT_TRUE(loaded.endsWith("/template/default/a%20b.html?tab=dpi#stage2"))
        << qPrintable(loaded);
    EXPECT_EQ(QUrl(loaded).toLocalFile(),
              QCoreApplication::applicationDirPath() + "/template/default/a b.html");

    send("{\"funcname\":\"openView\",\"relativeUrl\":\"view/p.html?id=3\",\"size\":\"400,300\"}");
    ASSERT_EQ(window_->popupViews().size(), 1);
    EXPECT_TRUE(window_->popupViews().firstKey().endsWith("/view/p.html?id=3"));
}

TEST_F(DispatcherTest, QueriesArrivingDuringADialogWaitForTheCommandToEnd) {
    QList<fake::RecordingCallback::Answer> laterAnswers;
    bool answeredWhileDialogOpen = true;
    const auto later = QSharedPointer<fake::RecordingCallback>::create();
    QTimer::singleShot(50, [&] {
        // Delivered by the dialog's event loop, as a page query would be.
        window_->onJsMessage("{\"funcname\":\"goback\"}", later);
        QTimer::singleShot(50, [&] {
            answeredWhileDialogOpen = !later->answers.isEmpty() || main_->count("goBack") != 0;
            if (QWidget* dialog = QApplication::activeModalWidget())
                dialog->close();
        });
    });
    const auto dialogCallback = QSharedPointer<fake::RecordingCallback>::create();
    window_->onJsMessage("{\"funcname\":\"openFileDialogEx\"}", dialogCallback);
    EXPECT_FALSE(answeredWhileDialogOpen);
    EXPECT_TRUE(dialogCallback->answers.isEmpty());  // cancelled: no answer
    ASSERT_EQ(later->answers.size(), 1);
    EXPECT_EQ(later->answers[0].text, "goback");
    EXPECT_EQ(main_->count("goBack"), 1);
}

}  // namespace

#include "dispatcher_test.moc"
