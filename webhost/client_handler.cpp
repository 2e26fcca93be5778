#include "webhost/client_handler.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>

#include "webhost/local_resource.h"
#include "webhost/message_event.h"
#include "webhost/page_geometry.h"
#include "webhost/resource_reader.h"

namespace {

std::atomic<ClientHandler*> processHandler{nullptr};

const QString kMinimizeRequest = QStringLiteral("{\"funcname\":\"minisizeWindow\"}");

}  // namespace

ClientHandler::ClientHandler(const QStringList& arguments, const QString& appFolder)
    : appFolder_(appFolder),
      pageFolder_(webhost::pageFolderOf(appFolder)),
      mouseCursorChangeDisabled_(
          arguments.contains(QStringLiteral("--mouse-cursor-change-disabled"))) {}

ClientHandler::~ClientHandler() {
    ClientHandler* self = this;
    processHandler.compare_exchange_strong(self, nullptr);
}

ClientHandler* ClientHandler::instance() {
    return processHandler.load();
}

void ClientHandler::setInstance(ClientHandler* handler) {
    processHandler.store(handler);
}

engine::BrowserPtr ClientHandler::mainBrowser() const {
    QMutexLocker lock(&browserMutex_);
    return mainBrowser_;
}

int ClientHandler::mainBrowserId() const {
    QMutexLocker lock(&browserMutex_);
    return mainBrowserId_;
}

void ClientHandler::setMainWindowHandle(WId window) {
    engine::Engine* engine = engine::instance();
    if (engine && !engine->currentlyOn(engine::Thread::UI)) {
        engine->postTask(engine::Thread::UI, [this, window] { setMainWindowHandle(window); });
        return;
    }
    mainWindowHandle_.store(window);
}

WId ClientHandler::mainWindowHandle() const {
    return mainWindowHandle_.load();
}

void ClientHandler::setCurrentListener(Listener* listener) {
    QMutexLocker lock(&stateMutex_);
    currentListener_ = listener;
}

ClientHandler::Listener* ClientHandler::currentListener() const {
    QMutexLocker lock(&stateMutex_);
    return currentListener_;
}

void ClientHandler::forgetListener(Listener* listener) {
    QMutexLocker lock(&stateMutex_);
    if (currentListener_ == listener)
        currentListener_ = nullptr;
    // The engine still announces the browser; it must not reach the view or shift the queue.
    for (PendingBrowser& pending : pendingBrowsers_) {
        if (pending.listener == listener)
            pending.listener = nullptr;
    }
}

void ClientHandler::setViewKey(const QString& key) {
    QMutexLocker lock(&stateMutex_);
    viewKey_ = key;
}

QString ClientHandler::viewKey() const {
    QMutexLocker lock(&stateMutex_);
    return viewKey_;
}

void ClientHandler::browserRequested(Listener* listener, const QString& key) {
    QMutexLocker lock(&stateMutex_);
    currentListener_ = listener;
    viewKey_ = key;
    pendingBrowsers_.append({listener, key});
}

void ClientHandler::browserRequestFailed(Listener* listener) {
    QMutexLocker lock(&stateMutex_);
    if (!pendingBrowsers_.isEmpty() && pendingBrowsers_.last().listener == listener)
        pendingBrowsers_.removeLast();
}

QList<engine::BrowserPtr> ClientHandler::browsersForViewKey(const QString& key) const {
    QMutexLocker lock(&stateMutex_);
    return viewBrowsers_.values(key);
}

QString ClientHandler::lastDownloadedPath() const {
    QMutexLocker lock(&stateMutex_);
    return lastDownloadedPath_;
}

void ClientHandler::setMinimizeHandler(std::function<void(QWidget*)> handler) {
    QMutexLocker lock(&stateMutex_);
    minimizeHandler_ = std::move(handler);
}

void ClientHandler::sendToMainBrowser(const QString& name, const QVariantList& arguments) {
    const engine::BrowserPtr browser = mainBrowser();
    if (browser)
        browser->sendProcessMessage(name, arguments);
}

void ClientHandler::onMainThread(std::function<void()> task) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    }
}

void ClientHandler::sendDeviceInput(const QString& reportHex) {
    if (reportHex.size() <= 3)
        return;
    const QChar kind = reportHex.at(3);
    if (kind == QLatin1Char('5')) {
        sendToMainBrowser(QStringLiteral("keyDown"), {});
    } else if (kind == QLatin1Char('8')) {
        // The cursor is read on the GUI thread; reports arrive on the library's.
        onMainThread([this] {
            const QPoint position = QCursor::pos();
            sendToMainBrowser(QStringLiteral("mouseMove"),
                              {QStringLiteral("%1,%2").arg(position.x()).arg(position.y())});
        });
    }
}

void ClientHandler::sendDevicesChanged(int value) {
    sendToMainBrowser(QStringLiteral("devicesChanged"), {value});
    ENGINE_LOG_INFO(QStringLiteral("devicesChanged"));
}

void ClientHandler::sendCurrentPropChanged(int propIndex, int proMode) {
    sendToMainBrowser(QStringLiteral("currentPropChanged"), {propIndex, proMode});
}

void ClientHandler::sendSwitchVirtualDevice() {
    sendToMainBrowser(QStringLiteral("onSwitchVirtualDevice"), {});
}

void ClientHandler::sendBrowserMessage(const QString& key, const QString& message) {
    for (const engine::BrowserPtr& browser : browsersForViewKey(key)) {
        browser->sendProcessMessage(QStringLiteral("onBrowserMsg"), {message});
    }
}

void ClientHandler::onAfterCreated(const engine::BrowserPtr& browser) {
    if (!router_) {
        router_ = std::make_unique<engine::MessageRouter>();
        router_->addHandler(this);
    }
    if (mouseCursorChangeDisabled_)
        browser->setMouseCursorChangeDisabled(true);
    {
        QMutexLocker lock(&browserMutex_);
        if (!mainBrowser_) {
            mainBrowser_ = browser;
            mainBrowserId_ = browser->identifier();
        }
    }
    QMutexLocker lock(&stateMutex_);
    // A view's browser is filed under that view's key, even when several views asked for
    // their browsers before the first one existed.
    QString key = viewKey_;
    Listener* listener = currentListener_;
    if (!browser->isPopup() && !pendingBrowsers_.isEmpty()) {
        const PendingBrowser pending = pendingBrowsers_.takeFirst();
        key = pending.viewKey;
        listener = pending.listener;
    }
    viewBrowsers_.insert(key, browser);
    if (browser->isPopup())
        popupBrowsers_.append(browser);
    if (listener)
        listener->browserCreated(browser);
}

void ClientHandler::onBeforeClose(const engine::BrowserPtr& browser) {
    if (router_)
        router_->onBeforeClose(browser);
    const int id = browser->identifier();
    {
        QMutexLocker lock(&stateMutex_);
        for (auto it = viewBrowsers_.begin(); it != viewBrowsers_.end();) {
            if (it.value()->identifier() == id) {
                it = viewBrowsers_.erase(it);
            } else {
                ++it;
            }
        }
        popupBrowsers_.erase(std::remove_if(popupBrowsers_.begin(), popupBrowsers_.end(),
                                            [id](const engine::BrowserPtr& popup) {
                                                return popup->identifier() == id;
                                            }),
                             popupBrowsers_.end());
    }
    QMutexLocker lock(&browserMutex_);
    if (mainBrowser_ && mainBrowserId_ == id) {
        mainBrowser_.reset();
        mainBrowserId_ = 0;
    }
}

bool ClientHandler::onBeforePopup(const engine::BrowserPtr&, const QString& targetUrl) {
    onMainThread([targetUrl] { QDesktopServices::openUrl(QUrl(targetUrl)); });
    return true;
}

void ClientHandler::onBeforeContextMenu(const engine::BrowserPtr&,
                                        engine::ContextMenuModel& model) {
    model.clear();
}

bool ClientHandler::onDragEnter(const engine::BrowserPtr&, const engine::DragData& drag) {
    return drag.isLink;
}

bool ClientHandler::onGeolocationPermission(const engine::BrowserPtr&, const QString&) {
    return true;
}

bool ClientHandler::onProtocolExecution(const engine::BrowserPtr&, const QString& url) {
    return url.startsWith(QLatin1String("spotify:"));
}

void ClientHandler::onBeforeBrowse(const engine::BrowserPtr& browser, const QString&) {
    if (router_)
        router_->onBeforeBrowse(browser);
}

void ClientHandler::onLoadingStateChange(const engine::BrowserPtr&, bool, bool canGoBack,
                                         bool canGoForward) {
    sendToMainBrowser(QStringLiteral("navStateChanged"), {canGoBack, canGoForward});
}

void ClientHandler::onLoadError(const engine::BrowserPtr& browser, int errorCode, const QString&,
                                const QString& failedUrl) {
    if (errorCode == -3)
        return;  // aborted
    if (errorCode == -302 && failedUrl.startsWith(QLatin1String("spotify:")))
        return;
    browser->sendProcessMessage(QStringLiteral("onBrowserMsg"), {QStringLiteral("pageError")});
}

bool ClientHandler::onProcessMessageReceived(const engine::BrowserPtr& browser, const QString& name,
                                             const QVariantList& arguments) {
    return router_ && router_->onProcessMessageReceived(browser, name, arguments);
}

QString ClientHandler::onBeforeDownload(const engine::BrowserPtr&, const QString& suggestedName,
                                        bool& showDialog) {
    showDialog = true;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') +
           suggestedName;
}

void ClientHandler::onDownloadUpdated(const engine::BrowserPtr&, bool complete,
                                      const QString& fullPath) {
    if (!complete)
        return;
    QMutexLocker lock(&stateMutex_);
    lastDownloadedPath_ = fullPath;
}

engine::ResourceHandlerPtr ClientHandler::getResourceHandler(const engine::BrowserPtr&,
                                                             const QString& url) {
    return webhost::LocalResourceHandler::intercept(pageFolder_, url);
}

bool ClientHandler::isApplicationPage(const QString& url) const {
    const QUrl page(url);
    if (page.scheme() == QLatin1String("velmora"))
        return true;
    if (page.scheme() != QLatin1String("file"))
        return false;
    const QString root = QFileInfo(appFolder_).canonicalFilePath();
    const QString path = QFileInfo(page.toLocalFile()).canonicalFilePath();
    return !root.isEmpty() && !path.isEmpty() && path.startsWith(root + QLatin1Char('/'));
}

bool ClientHandler::onQuery(const engine::BrowserPtr& browser, qint64, const QString& request, bool,
                            const engine::QueryCallbackPtr& callback) {
    if (!isApplicationPage(browser->url())) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: refused a page query from %1").arg(browser->url()));
        return true;
    }
    const WId window = browser->topLevelWindow();
    setMainWindowHandle(window);

    if (request.startsWith(QLatin1String("moveWindow"))) {
        moveWindow(window, request, callback);
        return true;
    }
    if (request == kMinimizeRequest) {
        std::function<void(QWidget*)> minimize;
        {
            QMutexLocker lock(&stateMutex_);
            minimize = minimizeHandler_;
        }
        onMainThread([window, minimize, callback] {
            if (QWidget* widget = QWidget::find(window)) {
                if (minimize)
                    minimize(widget->window());
            }
            callback->Success(QString());
        });
        return true;
    }
    QMutexLocker lock(&stateMutex_);
    if (currentListener_) {
        currentListener_->recordQueryBrowser(browser);
        currentListener_->postEvent(new MessageEvent(request, callback));
    }
    return true;
}

void ClientHandler::moveWindow(WId window, const QString& request,
                               const engine::QueryCallbackPtr& callback) {
    QList<int> numbers;
    for (const QString& part : request.mid(11).split(QLatin1Char(','))) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok)
            break;
        numbers.append(value);
    }
    if (numbers.size() != 4)
        return;
    const QSize size = webhost::boundedToScreens(QSize(qMax(0, numbers[2]), qMax(0, numbers[3])));
    onMainThread([window, numbers, size, callback] {
        if (QWidget* widget = QWidget::find(window)) {
            QWidget* top = widget->window();
            const QPoint position = top->geometry().topLeft();
            if (top->isMaximized() || top->isMinimized()) {
                top->setWindowState(top->windowState() &
                                    ~(Qt::WindowMaximized | Qt::WindowMinimized));
                top->setGeometry(QRect(position, size));
                top->showNormal();
            } else {
                top->setGeometry(QRect(position + QPoint(numbers[0], numbers[1]), size));
            }
        }
        callback->Success(QString());
    });
}
