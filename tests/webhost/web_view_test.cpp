#include <QCoreApplication>
#include <QResizeEvent>

#include <gtest/gtest.h>

#include <memory>

#include "fake_engine.h"
#include "webhost/client_handler.h"
#include "webhost/engine/message_router.h"
#include "webhost/pop_widget.h"
#include "webhost/qcef_web_view.h"

namespace {

using State = QCefWebView::ViewState;

const QString kPage = QStringLiteral("velmora://settings/local/clients/template/default/a.html");
const QString kOtherPage =
    QStringLiteral("velmora://settings/local/clients/template/default/b.html");

class WebViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        engine::setInstance(&engine_);
        ClientHandler::setInstance(&handler_);
    }
    void TearDown() override {
        ClientHandler::setInstance(nullptr);
        engine::setInstance(nullptr);
    }

    // A view whose browser exists: shown at `size`, created and announced.
    fake::BrowserPtr createdView(QCefWebView& view, const QSize& size = QSize(300, 200)) {
        view.resize(size);
        view.show();
        const int request = engine_.createRequests().size() - 1;
        EXPECT_EQ(engine_.createRequests().at(request).parent, &view);
        const fake::BrowserPtr browser = engine_.completeCreation(request);
        fake::pumpEvents();
        browser->clearCalls();
        return browser;
    }

    static void sendResize(QCefWebView& view, const QSize& size) {
        QResizeEvent event(size, view.size());
        QCoreApplication::sendEvent(&view, &event);
    }

    void query(const fake::BrowserPtr& browser, qint64 id) {
        handler_.onProcessMessageReceived(browser,
                                          QString::fromLatin1(engine::MessageRouter::kQueryMessage),
                                          {id, QString("{\"funcname\":\"goback\"}"), false});
    }

    fake::Engine engine_;
    ClientHandler handler_{QStringList()};
};

TEST_F(WebViewTest, ViewNeverSizedNeverCreatesABrowser) {
    QCefWebView view;
    view.resize(0, 0);
    view.load(kPage);
    sendResize(view, QSize(0, 5));
    sendResize(view, QSize(5, 0));
    EXPECT_TRUE(engine_.createRequests().isEmpty());
    EXPECT_EQ(view.state(), State::None);
    EXPECT_EQ(view.url(), kPage);

    view.back();
    view.forward();
    view.reload();
    view.stop();
    EXPECT_FALSE(view.evaluateJavaScript("1"));
    EXPECT_FALSE(view.browser());
}

TEST_F(WebViewTest, FirstShowCreatesOneBrowserAsTheViewAsks) {
    QCefWebView view;
    view.resize(300, 200);
    view.show();
    fake::pumpEvents();
    ASSERT_EQ(engine_.createRequests().size(), 1);
    const fake::CreateRequest& request = engine_.createRequests()[0];
    EXPECT_EQ(request.parent, &view);
    EXPECT_EQ(request.bounds, QRect(0, 0, 300, 200));
    EXPECT_EQ(request.url, "about:blank");
    EXPECT_EQ(request.client, &handler_);
    EXPECT_TRUE(request.settings.caretBrowsing);
    EXPECT_TRUE(request.settings.universalAccessFromFileUrls);
    EXPECT_FALSE(request.settings.fileAccessFromFileUrls);
    EXPECT_TRUE(request.settings.webSecurity);
    EXPECT_FALSE(request.settings.textAreaResizable);
    EXPECT_FALSE(request.settings.tabToLinks);
    EXPECT_EQ(view.state(), State::Creating);
    EXPECT_EQ(handler_.currentListener(), &view);

    view.hide();
    view.show();
    view.load(kPage);
    sendResize(view, QSize(400, 300));
    EXPECT_EQ(engine_.createRequests().size(), 1);
}

TEST_F(WebViewTest, ResizeOrLoadInStateNoneCreatesTheBrowser) {
    QCefWebView resized;
    sendResize(resized, QSize(640, 480));
    ASSERT_EQ(engine_.createRequests().size(), 1);
    EXPECT_EQ(engine_.createRequests()[0].bounds, QRect(0, 0, 640, 480));
    EXPECT_EQ(resized.state(), State::Creating);

    QCefWebView loaded;
    loaded.resize(320, 240);
    loaded.load(kPage);
    ASSERT_EQ(engine_.createRequests().size(), 2);
    EXPECT_EQ(engine_.createRequests()[1].url, kPage);
    EXPECT_EQ(engine_.createRequests()[1].bounds, QRect(0, 0, 320, 240));
    EXPECT_EQ(loaded.state(), State::Creating);
    EXPECT_FALSE(loaded.loadPending());
    EXPECT_EQ(handler_.currentListener(), &loaded);
}

TEST_F(WebViewTest, EngineRefusingTheBrowserLeavesTheViewToTryAgain) {
    QCefWebView view;
    view.resize(300, 200);
    engine_.setCreateResult(false);
    view.load(kPage);
    EXPECT_EQ(view.state(), State::None);
    engine_.setCreateResult(true);
    view.load(kOtherPage);
    ASSERT_EQ(engine_.createRequests().size(), 2);
    EXPECT_EQ(engine_.createRequests()[1].url, kOtherPage);
    EXPECT_EQ(view.state(), State::Creating);
}

TEST_F(WebViewTest, LoadWhileCreatingIsReplayedOnTheViewsOwnBrowser) {
    QCefWebView mainView;
    const fake::BrowserPtr main = createdView(mainView);

    QCefWebView view;
    view.resize(300, 200);
    view.load(kPage);
    view.load(kOtherPage);
    EXPECT_TRUE(view.loadPending());
    ASSERT_EQ(engine_.createRequests().size(), 2);
    EXPECT_EQ(engine_.createRequests()[1].url, kPage);

    const fake::BrowserPtr own = engine_.completeCreation(1);
    EXPECT_EQ(view.state(), State::Created);
    ASSERT_TRUE(fake::pumpUntil([&] { return own->count("loadUrl") > 0; }));
    fake::pumpEvents();
    ASSERT_EQ(own->count("loadUrl"), 1);
    EXPECT_EQ(own->calls("loadUrl")[0].arguments, QVariantList{kOtherPage});
    EXPECT_FALSE(view.loadPending());
    EXPECT_EQ(main->count("loadUrl"), 0);
}

TEST_F(WebViewTest, ResizeWhileCreatingIsReplayedAtTheViewSize) {
    QCefWebView view;
    view.resize(300, 200);
    view.show();
    fake::pumpEvents();
    view.resize(400, 300);
    fake::pumpEvents();
    EXPECT_TRUE(view.resizePending());
    EXPECT_EQ(engine_.createRequests().size(), 1);

    const fake::BrowserPtr own = engine_.completeCreation(0);
    ASSERT_TRUE(fake::pumpUntil([&] { return own->count("setBounds") > 0; }));
    EXPECT_EQ(own->calls("setBounds")[0].arguments, QVariantList{QRect(0, 0, 400, 300)});
    EXPECT_FALSE(view.resizePending());
    EXPECT_EQ(own->count("loadUrl"), 0);  // nothing was loaded while creating
}

TEST_F(WebViewTest, LoadAfterCreationGoesToTheMainBrowser) {
    QCefWebView mainView;
    const fake::BrowserPtr main = createdView(mainView);
    QCefWebView view;
    const fake::BrowserPtr own = createdView(view);

    view.load(kOtherPage);
    EXPECT_EQ(view.url(), kOtherPage);
    ASSERT_EQ(main->count("loadUrl"), 1);
    EXPECT_EQ(main->calls("loadUrl")[0].arguments, QVariantList{kOtherPage});
    EXPECT_EQ(own->count("loadUrl"), 0);
}

TEST_F(WebViewTest, ResizeAfterCreationFollowsTheMostRecentQueryBrowser) {
    QCefWebView view;
    const fake::BrowserPtr own = createdView(view);
    own->setUrl(kPage);
    handler_.setCurrentListener(nullptr);
    const fake::BrowserPtr other = engine_.announceBrowser(&handler_, kPage);
    handler_.setCurrentListener(&view);

    sendResize(view, QSize(500, 400));
    EXPECT_EQ(own->count("setBounds"), 0);  // no query yet: the browser keeps its size

    query(own, 1);
    sendResize(view, QSize(520, 410));
    ASSERT_EQ(own->count("setBounds"), 1);
    EXPECT_EQ(own->calls("setBounds")[0].arguments, QVariantList{QRect(0, 0, 520, 410)});

    query(other, 2);
    sendResize(view, QSize(530, 420));
    EXPECT_EQ(own->count("setBounds"), 1);
    ASSERT_EQ(other->count("setBounds"), 1);
    EXPECT_EQ(other->calls("setBounds")[0].arguments, QVariantList{QRect(0, 0, 530, 420)});
    fake::pumpEvents();
}

TEST_F(WebViewTest, EveryViewActsOnTheMainBrowser) {
    QCefWebView mainView;
    const fake::BrowserPtr main = createdView(mainView);
    QCefWebView view;
    const fake::BrowserPtr own = createdView(view);
    EXPECT_EQ(view.browser(), main);
    EXPECT_EQ(mainView.browser(), main);

    view.back();
    view.forward();
    view.reload();
    view.stop();
    EXPECT_TRUE(view.evaluateJavaScript("window.x = 1;"));
    QStringList methods;
    for (const fake::Call& call : main->calls())
        methods.append(call.method);
    EXPECT_EQ(methods,
              (QStringList{"goBack", "goForward", "reload", "stopLoad", "executeJavaScript"}));
    EXPECT_EQ(main->calls("executeJavaScript")[0].arguments,
              (QVariantList{QString("window.x = 1;"), QString(), 0}));
    EXPECT_TRUE(own->calls().isEmpty());

    handler_.onBeforeClose(main);
    EXPECT_FALSE(view.browser());
    EXPECT_FALSE(view.evaluateJavaScript("1"));
    view.back();
    EXPECT_TRUE(own->calls().isEmpty());
}

TEST_F(WebViewTest, DestroyedViewStopsBeingTheListener) {
    const fake::BrowserPtr page = engine_.announceBrowser(&handler_, kPage);
    {
        QCefWebView view;
        view.resize(300, 200);
        view.load(kPage);
        EXPECT_EQ(handler_.currentListener(), &view);
    }
    EXPECT_EQ(handler_.currentListener(), nullptr);
    query(page, 1);
    fake::pumpEvents();
    EXPECT_TRUE(page->messages().isEmpty());
}

TEST_F(WebViewTest, PopWidgetShowsItsPageAndBecomesTheQueryTargetWhenActivated) {
    QCefWebView mainView;
    createdView(mainView);
    PopWidget popup(kOtherPage, QSize(400, 300), nullptr, "view/other.html");
    EXPECT_TRUE(popup.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(popup.view()->viewKey(), "view/other.html");
    ASSERT_EQ(engine_.createRequests().size(), 2);
    EXPECT_EQ(engine_.createRequests()[1].parent, popup.view());
    EXPECT_EQ(engine_.createRequests()[1].url, kOtherPage);
    EXPECT_EQ(engine_.createRequests()[1].bounds, QRect(0, 0, 400, 300));

    handler_.setCurrentListener(&mainView);
    handler_.setMainWindowHandle(mainView.winId());
    QList<PopWidget*> activated;
    QObject::connect(&popup, &PopWidget::activated,
                     [&](PopWidget* active) { activated.append(active); });
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&popup, &activate);
    EXPECT_EQ(handler_.currentListener(), popup.view());
    EXPECT_EQ(handler_.mainWindowHandle(), popup.winId());
    EXPECT_EQ(activated, QList<PopWidget*>{&popup});

    popup.show();
    fake::pumpEvents();
    popup.resize(500, 350);
    fake::pumpEvents();
    EXPECT_EQ(popup.view()->size(), QSize(500, 350));
}

}  // namespace
