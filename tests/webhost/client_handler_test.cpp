#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include "fake_engine.h"
#include "webhost/client_handler.h"
#include "webhost/engine/message_router.h"
#include "webhost/engine/qtwebengine/qt_browser.h"
#include "webhost/qcef_web_view.h"

namespace {

const QString kQuery = QString::fromLatin1(engine::MessageRouter::kQueryMessage);
const QString kResult = QString::fromLatin1(engine::MessageRouter::kResultMessage);
const QString kAppPage = QStringLiteral("velmora://settings/local/clients/template/default/a.html");
const QString kMinimize = QStringLiteral("{\"funcname\":\"minisizeWindow\"}");

class RecordingListener : public ClientHandler::Listener {
  public:
    void browserCreated(const engine::BrowserPtr& browser) override { created.append(browser); }
    void postEvent(QEvent* event) override { delete event; }
    void recordQueryBrowser(const engine::BrowserPtr&) override {}

    QList<engine::BrowserPtr> created;
};

// Catches what the host hands to the desktop's URL handler.
class UrlRecorder : public QObject {
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { urls.append(url); }

  public:
    QList<QUrl> urls;
};

struct JsMessage {
    QString name;
    engine::QueryCallbackPtr callback;
};

class ClientHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine::setInstance(&engine_);
        ClientHandler::setInstance(&handler_);
        QObject::connect(&view_, &QCefWebView::jsMessage,
                         [this](const QString& name, const engine::QueryCallbackPtr& callback) {
                             jsMessages_.append({name, callback});
                         });
    }
    void TearDown() override {
        ClientHandler::setInstance(nullptr);
        engine::setInstance(nullptr);
    }

    fake::BrowserPtr create(const QString& url = kAppPage) {
        return engine_.announceBrowser(&handler_, url);
    }

    void query(const fake::BrowserPtr& browser, const QString& request, qint64 id = 1) {
        handler_.onProcessMessageReceived(browser, kQuery, {id, request, false});
    }

    static QList<QVariantList> results(const fake::BrowserPtr& browser) {
        QList<QVariantList> answers;
        for (const fake::ProcessMessage& message : browser->messages(kResult))
            answers.append(message.arguments);
        return answers;
    }

    static QVariantList emptySuccess(qint64 id = 1) { return {id, true, 0, QString()}; }

    fake::Engine engine_;
    QTemporaryDir app_;  // the application folder: its file pages may query
    ClientHandler handler_{QStringList(), app_.path() + "/"};
    QCefWebView view_;  // never shown: it only receives queries
    QList<JsMessage> jsMessages_;
};

// Browsers and their tables.

TEST_F(ClientHandlerTest, FirstBrowserStaysMainUntilItCloses) {
    EXPECT_FALSE(handler_.mainBrowser());
    const fake::BrowserPtr first = create();
    const fake::BrowserPtr second = create();
    EXPECT_EQ(handler_.mainBrowser(), first);
    EXPECT_EQ(handler_.mainBrowserId(), first->identifier());

    handler_.onBeforeClose(second);
    EXPECT_EQ(handler_.mainBrowser(), first);

    handler_.onBeforeClose(first);
    EXPECT_FALSE(handler_.mainBrowser());
    EXPECT_EQ(handler_.mainBrowserId(), 0);

    const fake::BrowserPtr third = create();
    EXPECT_EQ(handler_.mainBrowser(), third);
}

TEST_F(ClientHandlerTest, BrowserMessagesReachEveryBrowserOfTheViewKey) {
    handler_.setViewKey("main.html");
    const fake::BrowserPtr main = create();
    handler_.setViewKey("view/Pop.html");
    const fake::BrowserPtr popA = create();
    const fake::BrowserPtr popB = create();
    EXPECT_EQ(handler_.browsersForViewKey("view/Pop.html").size(), 2);

    handler_.sendBrowserMessage("view/Pop.html", "hello");
    for (const fake::BrowserPtr& browser : {popA, popB}) {
        ASSERT_EQ(browser->messages().size(), 1);
        EXPECT_EQ(browser->messages()[0].name, "onBrowserMsg");
        EXPECT_EQ(browser->messages()[0].arguments, QVariantList{QString("hello")});
    }
    EXPECT_TRUE(main->messages().isEmpty());

    handler_.onBeforeClose(popA);
    handler_.sendBrowserMessage("view/Pop.html", "again");
    EXPECT_EQ(popA->messages().size(), 1);
    EXPECT_EQ(popB->messages().size(), 2);

    handler_.sendBrowserMessage("unknown.html", "lost");
    handler_.sendBrowserMessage("view/pop.html", "lost");
    handler_.sendBrowserMessage("Pop.html", "lost");
    EXPECT_EQ(popB->messages().size(), 2);
    EXPECT_TRUE(main->messages().isEmpty());
}

TEST_F(ClientHandlerTest, CreatedBrowserIsAnnouncedToTheCurrentListener) {
    create();  // with no listener nothing is told
    RecordingListener listener;
    handler_.setCurrentListener(&listener);
    const fake::BrowserPtr browser = create();
    ASSERT_EQ(listener.created.size(), 1);
    EXPECT_EQ(listener.created[0], browser);
    handler_.forgetListener(&listener);
    EXPECT_EQ(handler_.currentListener(), nullptr);
}

TEST_F(ClientHandlerTest, BrowsersAreFiledUnderTheKeyOfTheViewThatAskedForThem) {
    RecordingListener mainView;
    RecordingListener popupView;
    handler_.browserRequested(&mainView, "file:///app/index.html");
    handler_.browserRequested(&popupView, "view/Pop.html");
    EXPECT_EQ(handler_.currentListener(), &popupView);
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr popup = create();
    EXPECT_EQ(handler_.browsersForViewKey("file:///app/index.html"),
              QList<engine::BrowserPtr>{main});
    EXPECT_EQ(handler_.browsersForViewKey("view/Pop.html"), QList<engine::BrowserPtr>{popup});
    EXPECT_EQ(mainView.created, QList<engine::BrowserPtr>{main});
    EXPECT_EQ(popupView.created, QList<engine::BrowserPtr>{popup});

    // A view gone before its browser exists is not told, and the requests after it keep
    // their keys; a refused request takes no browser's place.
    RecordingListener gone;
    RecordingListener refused;
    RecordingListener next;
    handler_.browserRequested(&gone, "a.html");
    handler_.browserRequested(&refused, "refused.html");
    handler_.browserRequestFailed(&refused);
    handler_.browserRequested(&next, "b.html");
    handler_.forgetListener(&gone);
    const fake::BrowserPtr a = create();
    const fake::BrowserPtr b = create();
    EXPECT_TRUE(gone.created.isEmpty());
    EXPECT_TRUE(refused.created.isEmpty());
    EXPECT_EQ(next.created, QList<engine::BrowserPtr>{b});
    EXPECT_EQ(handler_.browsersForViewKey("b.html"), QList<engine::BrowserPtr>{b});
    EXPECT_TRUE(handler_.browsersForViewKey("refused.html").isEmpty());
}

TEST_F(ClientHandlerTest, CursorSwitchOfTheCommandLineReachesEveryBrowser) {
    const fake::BrowserPtr plain = create();
    EXPECT_EQ(plain->count("setMouseCursorChangeDisabled"), 0);

    ClientHandler switched(QStringList{"velmora", "--mouse-cursor-change-disabled"});
    const fake::BrowserPtr browser = engine_.announceBrowser(&switched, kAppPage);
    ASSERT_EQ(browser->count("setMouseCursorChangeDisabled"), 1);
    EXPECT_EQ(browser->calls("setMouseCursorChangeDisabled")[0].arguments, QVariantList{true});
}

// The engine's own behaviours.

TEST_F(ClientHandlerTest, PopupIsCancelledAndItsUrlGoesToTheDesktop) {
    UrlRecorder desktop;
    QDesktopServices::setUrlHandler("https", &desktop, "open");
    const fake::BrowserPtr browser = create();
    EXPECT_TRUE(handler_.onBeforePopup(browser, "https://example.com/shop"));
    EXPECT_TRUE(fake::pumpUntil([&] { return !desktop.urls.isEmpty(); }));
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(desktop.urls.size(), 1);
    EXPECT_EQ(desktop.urls[0], QUrl("https://example.com/shop"));
    EXPECT_TRUE(browser->calls("loadUrl").isEmpty());
}

TEST_F(ClientHandlerTest, MenusDragsPermissionsAndProtocolsAreOverridden) {
    const fake::BrowserPtr browser = create();
    engine::ContextMenuModel menu(6);
    handler_.onBeforeContextMenu(browser, menu);
    EXPECT_EQ(menu.count(), 0);

    EXPECT_TRUE(handler_.onDragEnter(browser, {true, "https://example.com"}));
    EXPECT_FALSE(handler_.onDragEnter(browser, {false, QString()}));
    // What the engine makes of real drags: files from the desktop proceed, a link does not,
    // also when it travels with files.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/home/user/a.pfd"), QUrl::fromLocalFile("/tmp/b c.xml")});
    EXPECT_FALSE(handler_.onDragEnter(browser, engine::describeDrag(files)));
    QMimeData text;
    text.setText("https://example.com");
    EXPECT_FALSE(handler_.onDragEnter(browser, engine::describeDrag(text)));
    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile("/tmp/a.pfd"), QUrl("https://example.com/x")});
    EXPECT_TRUE(handler_.onDragEnter(browser, engine::describeDrag(mixed)));
    EXPECT_EQ(engine::describeDrag(mixed).linkUrl, "https://example.com/x");

    EXPECT_TRUE(handler_.onGeolocationPermission(browser, "https://maps.example.com"));

    EXPECT_TRUE(handler_.onProtocolExecution(browser, "spotify:track:42"));
    EXPECT_FALSE(handler_.onProtocolExecution(browser, "mailto:someone@example.com"));
    EXPECT_FALSE(handler_.onProtocolExecution(browser, "xspotify:track:42"));
    EXPECT_FALSE(handler_.onProtocolExecution(browser, "Spotify:track:42"));
    EXPECT_FALSE(handler_.onProtocolExecution(browser, "ms-settings:spotify:"));
}

TEST_F(ClientHandlerTest, DownloadsGoToTheDocumentsFolderWithTheSaveDialog) {
    const fake::BrowserPtr browser = create();
    bool showDialog = false;
    const QString path = handler_.onBeforeDownload(browser, "manual.pdf", showDialog);
    EXPECT_TRUE(showDialog);
    EXPECT_EQ(path,
              QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/manual.pdf");

    EXPECT_TRUE(handler_.lastDownloadedPath().isEmpty());
    handler_.onDownloadUpdated(browser, false, "/docs/partial.pdf");
    EXPECT_TRUE(handler_.lastDownloadedPath().isEmpty());
    handler_.onDownloadUpdated(browser, true, "/docs/manual.pdf");
    EXPECT_EQ(handler_.lastDownloadedPath(), "/docs/manual.pdf");
    handler_.onDownloadUpdated(browser, false, "/docs/next.pdf");
    EXPECT_EQ(handler_.lastDownloadedPath(), "/docs/manual.pdf");
}

// Pushed events.

TEST_F(ClientHandlerTest, LoadErrorsReachOnlyTheFailingBrowser) {
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr secondary = create();
    handler_.onLoadError(secondary, -3, "ERR_ABORTED", "velmora://settings/x.html");
    handler_.onLoadError(secondary, -302, "ERR_UNKNOWN_URL_SCHEME", "spotify:track:1");
    EXPECT_TRUE(secondary->messages().isEmpty());

    handler_.onLoadError(secondary, -302, "ERR_UNKNOWN_URL_SCHEME", "steam://run/1");
    handler_.onLoadError(secondary, -105, "ERR_NAME_NOT_RESOLVED", "spotify:track:1");
    ASSERT_EQ(secondary->messages().size(), 2);
    for (const fake::ProcessMessage& message : secondary->messages()) {
        EXPECT_EQ(message.name, "onBrowserMsg");
        EXPECT_EQ(message.arguments, QVariantList{QString("pageError")});
    }
    EXPECT_TRUE(main->messages().isEmpty());
}

TEST_F(ClientHandlerTest, LoadingStateOfAnyBrowserReachesTheMainBrowser) {
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr secondary = create();
    handler_.onLoadingStateChange(secondary, true, true, false);
    handler_.onLoadingStateChange(main, false, false, true);
    EXPECT_TRUE(secondary->messages().isEmpty());
    ASSERT_EQ(main->messages().size(), 2);
    EXPECT_EQ(main->messages()[0].name, "navStateChanged");
    EXPECT_EQ(main->messages()[0].arguments, (QVariantList{true, false}));
    EXPECT_EQ(main->messages()[1].arguments, (QVariantList{false, true}));
}

TEST_F(ClientHandlerTest, DeviceReportsBecomeKeyAndMouseEvents) {
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr secondary = create();

    handler_.sendDeviceInput("0005000000000000");
    ASSERT_EQ(main->messages().size(), 1);
    EXPECT_EQ(main->messages()[0].name, "keyDown");
    EXPECT_TRUE(main->messages()[0].arguments.isEmpty());

    QCursor::setPos(12, 34);
    ASSERT_EQ(QCursor::pos(), QPoint(12, 34));
    handler_.sendDeviceInput("0108000000000000");
    EXPECT_EQ(main->messages().size(), 1);  // the cursor is read on the main thread
    ASSERT_TRUE(fake::pumpUntil([&] { return main->messages().size() == 2; }));
    EXPECT_EQ(main->messages()[1].name, "mouseMove");
    EXPECT_EQ(main->messages()[1].arguments, QVariantList{QString("12,34")});

    for (const QString& report : QStringList{"0001000000000000", "5000000000000000",
                                             "0050000000000000", "000", "", "000a000000000000"}) {
        handler_.sendDeviceInput(report);
    }
    fake::pumpEvents();
    EXPECT_EQ(main->messages().size(), 2);
    EXPECT_TRUE(secondary->messages().isEmpty());
}

TEST_F(ClientHandlerTest, SendersReachTheMainBrowserAndDevicesChangedIsLogged) {
    QTemporaryFile log;
    ASSERT_TRUE(log.open());
    ASSERT_TRUE(engine::Log::open(log.fileName(), engine::LogSeverity::Info));
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr secondary = create();

    handler_.sendDevicesChanged(0x8002);
    handler_.sendCurrentPropChanged(3, 1);
    handler_.sendSwitchVirtualDevice();
    engine::Log::close();

    ASSERT_EQ(main->messages().size(), 3);
    EXPECT_EQ(main->messages()[0].name, "devicesChanged");
    EXPECT_EQ(main->messages()[0].arguments, QVariantList{0x8002});
    EXPECT_EQ(main->messages()[1].name, "currentPropChanged");
    EXPECT_EQ(main->messages()[1].arguments, (QVariantList{3, 1}));
    EXPECT_EQ(main->messages()[2].name, "onSwitchVirtualDevice");
    EXPECT_TRUE(main->messages()[2].arguments.isEmpty());
    EXPECT_TRUE(secondary->messages().isEmpty());
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains("] devicesChanged\n"));
}

TEST_F(ClientHandlerTest, PushedEventsWithoutMainBrowserAreDropped) {
    handler_.sendDevicesChanged(1);
    handler_.sendDeviceInput("0005000000000000");
    handler_.sendDeviceInput("0008000000000000");
    handler_.sendCurrentPropChanged(1, 1);
    handler_.sendSwitchVirtualDevice();
    fake::pumpEvents();

    const fake::BrowserPtr main = create();
    const fake::BrowserPtr secondary = create();
    handler_.onBeforeClose(main);
    handler_.sendDevicesChanged(1);
    handler_.onLoadingStateChange(secondary, false, true, true);
    handler_.sendDeviceInput("0008000000000000");
    fake::pumpEvents();
    EXPECT_TRUE(main->messages().isEmpty());
    EXPECT_TRUE(secondary->messages().isEmpty());
}

// The page query path.

TEST_F(ClientHandlerTest, ApplicationPageQueryReachesTheViewAndItsAnswerThePage) {
    handler_.setCurrentListener(&view_);
    const fake::BrowserPtr page = create();
    query(page, "{\"funcname\":\"goback\"}", 5);
    EXPECT_TRUE(jsMessages_.isEmpty());  // the view hears of it on the Qt main thread
    ASSERT_TRUE(fake::pumpUntil([&] { return !jsMessages_.isEmpty(); }));
    ASSERT_EQ(jsMessages_.size(), 1);
    EXPECT_EQ(jsMessages_[0].name, "{\"funcname\":\"goback\"}");
    EXPECT_TRUE(results(page).isEmpty());

    jsMessages_[0].callback->Success("goback");
    jsMessages_[0].callback->Success("twice");
    ASSERT_EQ(results(page).size(), 1);
    EXPECT_EQ(results(page)[0], (QVariantList{qint64(5), true, 0, QString("goback")}));
}

TEST_F(ClientHandlerTest, NavigationAndClosingEndTheOpenQueriesOfTheBrowser) {
    handler_.setCurrentListener(&view_);
    const fake::BrowserPtr page = create();
    query(page, "{\"funcname\":\"a\"}", 1);
    query(page, "{\"funcname\":\"b\"}", 2);
    ASSERT_TRUE(fake::pumpUntil([&] { return jsMessages_.size() == 2; }));
    handler_.onBeforeBrowse(page, kAppPage);
    jsMessages_[0].callback->Success("late");

    query(page, "{\"funcname\":\"c\"}", 3);
    ASSERT_TRUE(fake::pumpUntil([&] { return jsMessages_.size() == 3; }));
    handler_.onBeforeClose(page);
    jsMessages_[1].callback->Success("late");
    jsMessages_[2].callback->Success("late");
    EXPECT_TRUE(results(page).isEmpty());
}

TEST_F(ClientHandlerTest, FilePagesInsideTheApplicationFolderMayQuery) {
    ASSERT_TRUE(QDir().mkpath(app_.path() + "/template/default"));
    QFile page(app_.path() + "/template/default/index.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    handler_.setCurrentListener(&view_);

    const QString url = QUrl::fromLocalFile(page.fileName()).toString();
    query(create(url), "{\"funcname\":\"savexml\"}");
    EXPECT_TRUE(fake::pumpUntil([&] { return jsMessages_.size() == 1; }));

    // The folder may be named through a link of its own.
    QTemporaryDir links;
    ASSERT_TRUE(QFile::link(app_.path(), links.path() + "/app"));
    ClientHandler linked(QStringList(), links.path() + "/app/");
    linked.setCurrentListener(&view_);
    linked.onProcessMessageReceived(engine_.announceBrowser(&linked, url), kQuery,
                                    {2, "{\"funcname\":\"savexml\"}", false});
    EXPECT_TRUE(fake::pumpUntil([&] { return jsMessages_.size() == 2; }));
}

TEST_F(ClientHandlerTest, QueriesFromOtherPagesAreRefusedAndLogged) {
    const QTemporaryDir& app = app_;
    QTemporaryDir outside;
    const QString sibling = app.path() + "-other";  // shares the folder's name as a prefix
    ASSERT_TRUE(QDir().mkpath(sibling));
    ASSERT_TRUE(QDir().mkpath(app.path() + "/template"));
    for (const QString& path : {outside.path() + "/evil.html", sibling + "/evil.html"}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // A link inside the folder to a page outside it leads outside.
    ASSERT_TRUE(QFile::link(outside.path() + "/evil.html", app.path() + "/template/link.html"));
    QTemporaryFile log;
    ASSERT_TRUE(log.open());
    ASSERT_TRUE(engine::Log::open(log.fileName(), engine::LogSeverity::Info));
    handler_.setCurrentListener(&view_);
    fake::PageWindow window;
    handler_.setMainWindowHandle(0);

    const QStringList origins = {
        "http://127.0.0.1:8080/index.html",
        "https://example.com/velmora://settings",
        QUrl::fromLocalFile(outside.path() + "/evil.html").toString(),
        QUrl::fromLocalFile(sibling + "/evil.html").toString(),
        QUrl::fromLocalFile(app.path() + "/template/../../" + QFileInfo(outside.path()).fileName() +
                            "/evil.html")
            .toString(),
        QUrl::fromLocalFile(app.path() + "/template/link.html").toString(),
        "about:blank",
        QString(),
    };
    for (const QString& origin : origins) {
        const fake::BrowserPtr browser = create(origin);
        browser->setTopLevelWindow(window.winId());
        query(browser, "{\"funcname\":\"closeApp\"}");
        query(browser, "moveWindow:5,5,800,600", 2);
        query(browser, kMinimize, 3);
        fake::pumpEvents();
        EXPECT_TRUE(browser->messages().isEmpty()) << origin.toStdString();
    }
    engine::Log::close();

    EXPECT_TRUE(jsMessages_.isEmpty());
    EXPECT_EQ(window.geometry(), QRect(100, 100, 300, 200));
    EXPECT_EQ(handler_.mainWindowHandle(), WId(0));
    const QString logText = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(logText.contains(
        "Application Error: refused a page query from http://127.0.0.1:8080/index.html"));
    EXPECT_EQ(logText.count("Application Error: refused a page query from"), 3 * origins.size());
}

TEST_F(ClientHandlerTest, QueryWithoutListenerIsNeitherForwardedNorAnswered) {
    const fake::BrowserPtr page = create();
    handler_.setCurrentListener(&view_);
    handler_.forgetListener(&view_);
    query(page, "{\"funcname\":\"goback\"}");
    fake::pumpEvents();
    EXPECT_TRUE(jsMessages_.isEmpty());
    EXPECT_TRUE(page->messages().isEmpty());
}

TEST_F(ClientHandlerTest, EachQueryNamesTheWindowOfItsBrowser) {
    handler_.setCurrentListener(&view_);
    const fake::BrowserPtr main = create();
    const fake::BrowserPtr popup = create();
    main->setTopLevelWindow(WId(0x101));
    popup->setTopLevelWindow(WId(0x202));

    query(popup, "{\"funcname\":\"x\"}");
    EXPECT_EQ(handler_.mainWindowHandle(), WId(0x202));
    query(main, "{\"funcname\":\"x\"}");
    EXPECT_EQ(handler_.mainWindowHandle(), WId(0x101));
    query(popup, "moveWindow:1,2,3", 2);
    EXPECT_EQ(handler_.mainWindowHandle(), WId(0x202));
}

TEST_F(ClientHandlerTest, WindowHandleSetOffTheEngineThreadIsPostedThere) {
    handler_.setMainWindowHandle(WId(7));
    engine_.setCallerThread(engine::Thread::IO);
    handler_.setMainWindowHandle(WId(9));
    EXPECT_EQ(handler_.mainWindowHandle(), WId(7));
    EXPECT_EQ(engine_.pendingTaskCount(), 1);
    engine_.runPendingTasks();
    EXPECT_EQ(handler_.mainWindowHandle(), WId(9));
    EXPECT_EQ(engine_.pendingTaskCount(), 0);
}

TEST_F(ClientHandlerTest, MoveWindowMovesByOffsetAndSizes) {
    fake::PageWindow window;
    const fake::BrowserPtr page = create();
    page->setTopLevelWindow(window.winId());
    query(page, "moveWindow:5,5,400,250");
    ASSERT_TRUE(fake::pumpUntil([&] { return !results(page).isEmpty(); }));
    EXPECT_EQ(window.geometry(), QRect(105, 105, 400, 250));
    EXPECT_EQ(results(page), QList<QVariantList>{emptySuccess()});

    query(page, "moveWindow|-10,-20,300,200", 2);
    ASSERT_TRUE(fake::pumpUntil([&] { return results(page).size() == 2; }));
    EXPECT_EQ(window.geometry(), QRect(95, 85, 300, 200));

    // A page cannot make the window larger than the screens.
    query(page, "moveWindow:0,0,100000,100000", 3);
    ASSERT_TRUE(fake::pumpUntil([&] { return results(page).size() == 3; }));
    EXPECT_EQ(window.size(), QGuiApplication::primaryScreen()->availableVirtualSize());
}

TEST_F(ClientHandlerTest, MoveWindowOnAChildHandleMovesItsTopLevelWindow) {
    fake::PageWindow window;
    auto* child = new QWidget(&window);
    child->setAttribute(Qt::WA_NativeWindow);
    const fake::BrowserPtr page = create();
    page->setTopLevelWindow(child->winId());
    query(page, "moveWindow:5,5,400,250");
    ASSERT_TRUE(fake::pumpUntil([&] { return !results(page).isEmpty(); }));
    EXPECT_EQ(window.geometry(), QRect(105, 105, 400, 250));
}

TEST_F(ClientHandlerTest, MoveWindowRestoresAMaximisedOrMinimisedWindow) {
    fake::PageWindow window;
    window.showMaximized();
    fake::pumpEvents();
    const QPoint maximisedAt = window.geometry().topLeft();
    const fake::BrowserPtr page = create();
    page->setTopLevelWindow(window.winId());
    query(page, "moveWindow:5,5,320,240");
    ASSERT_TRUE(fake::pumpUntil([&] { return !results(page).isEmpty(); }));
    fake::pumpEvents();
    EXPECT_FALSE(window.isMaximized());
    EXPECT_EQ(window.geometry(), QRect(maximisedAt, QSize(320, 240)));

    window.showMinimized();
    fake::pumpEvents();
    const QPoint minimisedAt = window.geometry().topLeft();
    query(page, "moveWindow:5,5,330,250", 2);
    ASSERT_TRUE(fake::pumpUntil([&] { return results(page).size() == 2; }));
    fake::pumpEvents();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.geometry(), QRect(minimisedAt, QSize(330, 250)));
}

TEST_F(ClientHandlerTest, MoveWindowWithoutExactlyFourNumbersIsNotAnswered) {
    handler_.setCurrentListener(&view_);
    fake::PageWindow window;
    const fake::BrowserPtr page = create();
    page->setTopLevelWindow(window.winId());
    const QStringList requests = {
        "moveWindow:5,5,800", "moveWindow:5,5,800,600,1", "moveWindow:5,5,x,600",   "moveWindow:",
        "moveWindow",         "moveWindow:5;5;800;600",   "moveWindow:5,5,800,600x"};
    qint64 id = 1;
    for (const QString& request : requests)
        query(page, request, id++);
    fake::pumpEvents();
    EXPECT_TRUE(page->messages().isEmpty());
    EXPECT_TRUE(jsMessages_.isEmpty());
    EXPECT_EQ(window.geometry(), QRect(100, 100, 300, 200));
}

TEST_F(ClientHandlerTest, ExactMinimiseRequestRunsTheMinimiseHandler) {
    handler_.setCurrentListener(&view_);
    fake::PageWindow window;
    QList<QWidget*> minimised;
    handler_.setMinimizeHandler([&](QWidget* target) { minimised.append(target); });
    const fake::BrowserPtr page = create();
    page->setTopLevelWindow(window.winId());

    query(page, kMinimize);
    ASSERT_TRUE(fake::pumpUntil([&] { return !results(page).isEmpty(); }));
    EXPECT_EQ(minimised, QList<QWidget*>{&window});
    EXPECT_EQ(results(page), QList<QVariantList>{emptySuccess()});
    EXPECT_TRUE(jsMessages_.isEmpty());

    // Any other spelling is an ordinary command for the dispatcher.
    query(page, "{\"funcname\": \"minisizeWindow\"}", 2);
    ASSERT_TRUE(fake::pumpUntil([&] { return !jsMessages_.isEmpty(); }));
    EXPECT_EQ(minimised.size(), 1);
    EXPECT_EQ(results(page).size(), 1);
    handler_.setMinimizeHandler(nullptr);
}

TEST_F(ClientHandlerTest, RouterMessagesBeforeAnyBrowserAreNotHandled) {
    const fake::BrowserPtr stray(new fake::Browser(99));
    stray->setUrl(kAppPage);
    EXPECT_FALSE(handler_.onProcessMessageReceived(stray, kQuery, {1, QString("x"), false}));
    handler_.onBeforeBrowse(stray, kAppPage);
    handler_.onBeforeClose(stray);
    EXPECT_TRUE(stray->messages().isEmpty());
}

}  // namespace

#include "client_handler_test.moc"
