#include "webhost/engine/qtwebengine/qt_browser.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QMutexLocker>
#include <QThread>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEngineProfile>

#include "base/startup_timeline.h"
#include "webhost/engine/qtwebengine/qt_engine.h"

namespace engine {
namespace {

// The page side knows booleans, numbers, texts and lists; anything else arrives as an
// empty slot.
QVariant pageValue(const QVariant& value) {
    switch (static_cast<QMetaType::Type>(value.userType())) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::QString:
            return value;
        case QMetaType::QVariantList: {
            QVariantList converted;
            for (const QVariant& item : value.toList())
                converted.append(pageValue(item));
            return converted;
        }
        default:
            return QVariant::fromValue(nullptr);
    }
}

bool isEngineScheme(const QString& scheme) {
    static const QStringList known = {"http", "https", "file", "about",  "data",    "blob",
                                      "qrc",  "ws",    "wss",  "chrome", "devtools"};
    return known.contains(scheme);
}

// Stands in for a popup until its target URL is known.
class PopupProbePage : public QWebEnginePage {
  public:
    PopupProbePage(QWebEngineProfile* profile, std::function<void(const QUrl&)> onTarget)
        : QWebEnginePage(profile), onTarget_(std::move(onTarget)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (onTarget_) {
            auto target = std::move(onTarget_);
            onTarget_ = nullptr;
            target(url);
        }
        deleteLater();
        return false;
    }

  private:
    std::function<void(const QUrl&)> onTarget_;
};

// Keeps a widget's cursor the arrow whatever the page asks for.
class FixedCursorFilter : public QObject {
  public:
    explicit FixedCursorFilter(QObject* parent) : QObject(parent) {
        setObjectName(QStringLiteral("fixedCursorFilter"));
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::CursorChange && !resetting_) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->cursor().shape() != Qt::ArrowCursor) {
                resetting_ = true;
                widget->setCursor(Qt::ArrowCursor);
                resetting_ = false;
            }
        }
        return false;
    }

  private:
    bool resetting_ = false;
};

}  // namespace

HostBridge::HostBridge(QtEngine* engine, int browserId, QObject* parent)
    : QObject(parent), engine_(engine), browserId_(browserId) {}

void HostBridge::postMessage(const QString& name, const QVariantList& arguments) {
    const BrowserPtr browser = engine_->browserForPage(parent());
    if (!browser)
        return;
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    engine_->postTask(Thread::UI, [client, browser, name, arguments] {
        client->onProcessMessageReceived(browser, name, arguments);
    });
}

BrowserPage::BrowserPage(QtEngine* engine, QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), engine_(engine) {
    connect(this, &QWebEnginePage::loadStarted, this, &BrowserPage::onLoadStarted);
    connect(this, &QWebEnginePage::loadStarted, this, [] { startup::mark("page load started"); });
    connect(this, &QWebEnginePage::loadFinished, this, &BrowserPage::onLoadFinished);
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            &BrowserPage::onFeaturePermissionRequested);
    connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        if (const BrowserPtr browser = engine_->browserForPage(this)) {
            static_cast<QtBrowser*>(browser.data())->noteUrl(url.toString(QUrl::FullyEncoded));
        }
    });
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
    const BrowserPtr browser = engine_->browserForPage(this);
    if (!browser)
        return true;
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    const QString text = url.toString(QUrl::FullyEncoded);
    if (isEngineScheme(url.scheme()) ||
        engine_->profile()->urlSchemeHandler(url.scheme().toUtf8())) {
        if (isMainFrame) {
            unknownSchemeUrl_.clear();
            engine_->postTask(Thread::UI,
                              [client, browser, text] { client->onBeforeBrowse(browser, text); });
        }
        return true;
    }
    // A protocol the engine cannot load: the client decides whether the system runs it. Either
    // way the frame's load then fails, and is reported as an unhandled scheme.
    bool allowed = false;
    engine_->runOnUiAndWait([&] { allowed = client->onProtocolExecution(browser, text); });
    unknownSchemeUrl_ = text;
    return allowed;  // the engine hands an allowed URL to the system's handler
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType) {
    const BrowserPtr browser = engine_->browserForPage(this);
    if (!browser)
        return nullptr;
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    QtEngine* engine = engine_;
    return new PopupProbePage(profile(), [engine, client, browser](const QUrl& target) {
        bool cancel = true;
        engine->runOnUiAndWait(
            [&] { cancel = client->onBeforePopup(browser, target.toString(QUrl::FullyEncoded)); });
        if (cancel)
            return;
        auto* popup = new QWidget(nullptr, Qt::Window);
        popup->setAttribute(Qt::WA_DeleteOnClose);
        popup->resize(800, 600);
        engine->createBrowserView(popup, QRect(0, 0, 800, 600), BrowserSettings(),
                                  target.toString(QUrl::FullyEncoded), client, true);
        popup->show();
    });
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                           const QString& message, int lineNumber,
                                           const QString& sourceID) {
    if (level == ErrorMessageLevel) {
        qWarning("page script error %s:%d: %s", qPrintable(sourceID), lineNumber,
                 qPrintable(message));
    }
}

void BrowserPage::onLoadStarted() {
    const BrowserPtr browser = engine_->browserForPage(this);
    if (!browser)
        return;
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    const bool back = history()->canGoBack();
    const bool forward = history()->canGoForward();
    engine_->postTask(Thread::UI, [client, browser, back, forward] {
        client->onLoadingStateChange(browser, true, back, forward);
    });
}

void BrowserPage::onLoadFinished(bool ok) {
    startup::mark("page loaded");
    const BrowserPtr browser = engine_->browserForPage(this);
    const bool aborted = stopRequested_;
    stopRequested_ = false;
    if (!browser)
        return;
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    const bool back = history()->canGoBack();
    const bool forward = history()->canGoForward();
    QString failedUrl = requestedUrl().toString(QUrl::FullyEncoded);
    int errorCode = aborted ? -3 : -2;
    QString errorText = aborted ? QStringLiteral("ERR_ABORTED") : QStringLiteral("ERR_FAILED");
    if (!ok && !unknownSchemeUrl_.isEmpty()) {
        failedUrl = unknownSchemeUrl_;
        errorCode = -302;
        errorText = QStringLiteral("ERR_UNKNOWN_URL_SCHEME");
    }
    unknownSchemeUrl_.clear();
    engine_->postTask(Thread::UI,
                      [client, browser, back, forward, ok, errorCode, errorText, failedUrl] {
                          client->onLoadingStateChange(browser, false, back, forward);
                          if (!ok)
                              client->onLoadError(browser, errorCode, errorText, failedUrl);
                      });
}

void BrowserPage::onFeaturePermissionRequested(const QUrl& origin, Feature feature) {
    const BrowserPtr browser = engine_->browserForPage(this);
    if (!browser || feature != Geolocation) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
        return;
    }
    Client* client = static_cast<QtBrowser*>(browser.data())->client();
    QPointer<BrowserPage> self(this);
    const QString originText = origin.toString();
    engine_->postTask(Thread::UI, [client, browser, self, origin, originText, feature] {
        const bool granted = client->onGeolocationPermission(browser, originText);
        QtEngine::postToMain(self.data() ? self.data() : nullptr, [self, origin, feature, granted] {
            if (self) {
                self->setFeaturePermission(
                    origin, feature, granted ? PermissionGrantedByUser : PermissionDeniedByUser);
            }
        });
    });
}

DragData describeDrag(const QMimeData& data) {
    DragData drag;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) {
            drag.isLink = true;
            drag.linkUrl = url.toString();
            break;
        }
    }
    return drag;
}

BrowserView::BrowserView(QtEngine* engine, QWidget* parent)
    : QWebEngineView(parent), engine_(engine) {}

void BrowserView::contextMenuEvent(QContextMenuEvent* event) {
    const BrowserPtr browser = engine_->browserForPage(page());
    QMenu* menu = page()->createStandardContextMenu();
    ContextMenuModel model(menu->actions().size());
    if (browser) {
        Client* client = static_cast<QtBrowser*>(browser.data())->client();
        engine_->runOnUiAndWait([&] { client->onBeforeContextMenu(browser, model); });
    }
    if (model.count() == 0) {
        delete menu;
        event->accept();
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void BrowserView::dragEnterEvent(QDragEnterEvent* event) {
    const BrowserPtr browser = engine_->browserForPage(page());
    if (browser) {
        const DragData drag = describeDrag(*event->mimeData());
        Client* client = static_cast<QtBrowser*>(browser.data())->client();
        bool refused = false;
        engine_->runOnUiAndWait([&] { refused = client->onDragEnter(browser, drag); });
        if (refused) {
            event->ignore();
            return;
        }
    }
    QWebEngineView::dragEnterEvent(event);
}

QtBrowser::QtBrowser(int identifier, bool popup, Client* client, BrowserView* view)
    : identifier_(identifier), popup_(popup), client_(client), view_(view) {
    bridge_ = view->page()->webChannel()
                  ? qobject_cast<HostBridge*>(
                        view->page()->webChannel()->registeredObjects().value("velmoraHost"))
                  : nullptr;
}

void QtBrowser::onMain(std::function<void(BrowserView*)> task) {
    QPointer<BrowserView> view = view_;
    if (!view)
        return;
    if (QThread::currentThread() == view->thread()) {
        task(view);
        return;
    }
    QtEngine::postToMain(view, [view, task] {
        if (view)
            task(view);
    });
}

void QtBrowser::goBack() {
    onMain([](BrowserView* view) { view->back(); });
}

void QtBrowser::goForward() {
    onMain([](BrowserView* view) { view->forward(); });
}

void QtBrowser::reload() {
    onMain([](BrowserView* view) { view->reload(); });
}

void QtBrowser::stopLoad() {
    onMain([](BrowserView* view) {
        static_cast<BrowserPage*>(view->page())->noteStopRequested();
        view->stop();
    });
}

void QtBrowser::loadUrl(const QString& url) {
    onMain([url](BrowserView* view) { view->load(QUrl(url)); });
}

QString QtBrowser::url() const {
    QMutexLocker lock(&mutex_);
    return url_;
}

void QtBrowser::executeJavaScript(const QString& code, const QString&, int) {
    onMain([code](BrowserView* view) { view->page()->runJavaScript(code); });
}

void QtBrowser::sendProcessMessage(const QString& name, const QVariantList& arguments) {
    QVariantList converted;
    for (const QVariant& argument : arguments)
        converted.append(pageValue(argument));
    QPointer<HostBridge> bridge = bridge_;
    onMain([bridge, name, converted](BrowserView*) {
        if (bridge)
            emit bridge->processMessage(name, converted);
    });
}

void QtBrowser::setBounds(const QRect& bounds) {
    onMain([bounds](BrowserView* view) { view->setGeometry(bounds); });
}

WId QtBrowser::topLevelWindow() const {
    QMutexLocker lock(&mutex_);
    return topLevel_;
}

void QtBrowser::setMouseCursorChangeDisabled(bool disabled) {
    onMain([disabled](BrowserView* view) {
        QWidget* proxy = view->focusProxy();
        if (!proxy)
            return;
        QObject* filter = proxy->findChild<QObject*>(QStringLiteral("fixedCursorFilter"),
                                                     Qt::FindDirectChildrenOnly);
        if (disabled && !filter) {
            proxy->installEventFilter(new FixedCursorFilter(proxy));
            proxy->setCursor(Qt::ArrowCursor);
        } else if (!disabled && filter) {
            delete filter;
        }
    });
}

void QtBrowser::noteUrl(const QString& url) {
    QMutexLocker lock(&mutex_);
    url_ = url;
}

void QtBrowser::noteTopLevelWindow(WId window) {
    QMutexLocker lock(&mutex_);
    topLevel_ = window;
}

}  // namespace engine
