#include "webhost/qcef_web_view.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QResizeEvent>

#include "webhost/message_event.h"

namespace {

// Posted by the engine's UI thread once the browser exists.
class BrowserCreatedEvent : public QEvent {
  public:
    BrowserCreatedEvent() : QEvent(eventType()) {}
    static QEvent::Type eventType() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
};

engine::BrowserSettings viewBrowserSettings() {
    engine::BrowserSettings settings;
    settings.caretBrowsing = true;
    settings.universalAccessFromFileUrls = true;
    settings.fileAccessFromFileUrls = false;
    settings.webSecurity = true;
    settings.textAreaResizable = false;
    settings.tabToLinks = false;
    return settings;
}

}  // namespace

QCefWebView::QCefWebView(QWidget* parent) : QWidget(parent) {
    qRegisterMetaType<engine::QueryCallbackPtr>();
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
}

QCefWebView::~QCefWebView() {
    if (ClientHandler* handler = ClientHandler::instance())
        handler->forgetListener(this);
}

void QCefWebView::load(const QString& url) {
    ViewState state;
    {
        QMutexLocker lock(&creationMutex_);
        url_ = url;
        state = state_;
        if (state == ViewState::Creating)
            loadPending_ = true;
    }
    if (state == ViewState::None) {
        createBrowser(size());
    } else if (state == ViewState::Created) {
        if (const engine::BrowserPtr main = browser())
            main->loadUrl(url);
    }
}

QString QCefWebView::url() const {
    QMutexLocker lock(&creationMutex_);
    return url_;
}

void QCefWebView::setViewKey(const QString& key) {
    QMutexLocker lock(&creationMutex_);
    viewKey_ = key;
}

QString QCefWebView::viewKey() const {
    QMutexLocker lock(&creationMutex_);
    return viewKey_;
}

QCefWebView::ViewState QCefWebView::state() const {
    QMutexLocker lock(&creationMutex_);
    return state_;
}

bool QCefWebView::loadPending() const {
    QMutexLocker lock(&creationMutex_);
    return loadPending_;
}

bool QCefWebView::resizePending() const {
    QMutexLocker lock(&creationMutex_);
    return resizePending_;
}

engine::BrowserPtr QCefWebView::browser() const {
    ClientHandler* handler = ClientHandler::instance();
    return handler ? handler->mainBrowser() : engine::BrowserPtr();
}

void QCefWebView::createBrowser(const QSize& size) {
    ClientHandler* handler = ClientHandler::instance();
    engine::Engine* engine = engine::instance();
    if (!handler || !engine)
        return;
    QString startUrl;
    QString key;
    {
        QMutexLocker lock(&creationMutex_);
        if (state_ != ViewState::None || size.width() < 1 || size.height() < 1)
            return;
        state_ = ViewState::Creating;
        startUrl = url_.isEmpty() ? QStringLiteral("about:blank") : url_;
        key = viewKey_;
    }
    handler->browserRequested(this, key);
    if (!engine->createBrowser(this, QRect(QPoint(0, 0), size), viewBrowserSettings(), startUrl,
                               handler)) {
        handler->browserRequestFailed(this);
        QMutexLocker lock(&creationMutex_);
        state_ = ViewState::None;
    }
}

void QCefWebView::browserCreated(const engine::BrowserPtr& browser) {
    {
        QMutexLocker lock(&creationMutex_);
        state_ = ViewState::Created;
        ownBrowser_ = browser;
    }
    QCoreApplication::postEvent(this, new BrowserCreatedEvent, Qt::HighEventPriority);
}

void QCefWebView::postEvent(QEvent* event) {
    QCoreApplication::postEvent(this, event, Qt::HighEventPriority);
}

void QCefWebView::recordQueryBrowser(const engine::BrowserPtr& browser) {
    QMutexLocker lock(&creationMutex_);
    queryBrowser_ = browser;
}

// Requests made while the browser was being created are carried out now, so the page
// shows the last URL asked for at the view's current size.
void QCefWebView::replayPending() {
    engine::BrowserPtr own;
    bool load = false;
    bool resize = false;
    QString url;
    {
        QMutexLocker lock(&creationMutex_);
        own = ownBrowser_;
        load = loadPending_;
        resize = resizePending_;
        loadPending_ = false;
        resizePending_ = false;
        url = url_;
    }
    if (!own)
        return;
    if (load)
        own->loadUrl(url);
    if (resize)
        own->setBounds(QRect(QPoint(0, 0), size()));
}

void QCefWebView::back() {
    if (const engine::BrowserPtr main = browser())
        main->goBack();
}

void QCefWebView::forward() {
    if (const engine::BrowserPtr main = browser())
        main->goForward();
}

void QCefWebView::reload() {
    if (const engine::BrowserPtr main = browser())
        main->reload();
}

void QCefWebView::stop() {
    if (const engine::BrowserPtr main = browser())
        main->stopLoad();
}

bool QCefWebView::evaluateJavaScript(const QString& scriptSource) {
    const engine::BrowserPtr main = browser();
    if (!main)
        return false;
    main->executeJavaScript(scriptSource, QString(), 0);
    return true;
}

void QCefWebView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    createBrowser(size());
}

void QCefWebView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ViewState state;
    engine::BrowserPtr target;
    {
        QMutexLocker lock(&creationMutex_);
        state = state_;
        if (state == ViewState::Creating)
            resizePending_ = true;
        target = queryBrowser_;
    }
    if (state == ViewState::None) {
        createBrowser(event->size());
    } else if (state == ViewState::Created && target) {
        target->setBounds(QRect(QPoint(0, 0), event->size()));
    }
}

void QCefWebView::customEvent(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        const auto* message = static_cast<MessageEvent*>(event);
        emit jsMessage(message->name(), message->callbackPtr());
    } else if (event->type() == BrowserCreatedEvent::eventType()) {
        replayPending();
    }
}
