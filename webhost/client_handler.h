#pragma once

// webhost/: the browser host: the engine interface and its QtWebEngine backend (engine/), the
// views, the local resource scheme and the page bridge (this file). May use storage/ and base/.

#include <QEvent>
#include <QMultiMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

#include "webhost/engine/engine.h"
#include "webhost/engine/message_router.h"

// Receives every notification of the browser engine, owns the page query channel and sends
// the pushed page events. One process-wide instance.
class ClientHandler : public engine::Client, private engine::MessageRouter::Handler {
  public:
    // How the handler reaches a view.
    class Listener {
      public:
        virtual ~Listener() = default;
        // Engine UI thread: the view's browser exists now.
        virtual void browserCreated(const engine::BrowserPtr& browser) = 0;
        // Hands an event to the view's (the Qt main) thread.
        virtual void postEvent(QEvent* event) = 0;
        // The browser of the most recent page query through this view.
        virtual void recordQueryBrowser(const engine::BrowserPtr& browser) = 0;
    };

    // `arguments`: the process command line, read once for the engine switches it carries.
    // `appFolder`: the application folder with a trailing separator; only its pages may query.
    explicit ClientHandler(const QStringList& arguments, const QString& appFolder = QString());
    ~ClientHandler() override;

    static ClientHandler* instance();
    static void setInstance(ClientHandler* handler);

    engine::BrowserPtr mainBrowser() const;
    int mainBrowserId() const;

    void setMainWindowHandle(WId window);
    WId mainWindowHandle() const;

    void setCurrentListener(Listener* listener);
    Listener* currentListener() const;
    // A view that goes away must not stay the listener.
    void forgetListener(Listener* listener);

    void setViewKey(const QString& key);
    QString viewKey() const;
    // A view asks the engine for its browser: it becomes the listener, and the browser the
    // engine announces for this request is filed under `viewKey` and reported to `listener`.
    // Engines announce requested browsers in the order they were requested.
    void browserRequested(Listener* listener, const QString& viewKey);
    // The engine refused the request made last.
    void browserRequestFailed(Listener* listener);
    QList<engine::BrowserPtr> browsersForViewKey(const QString& key) const;

    QString lastDownloadedPath() const;

    // The main window's own work for the minimise request (unsaved profiles are written,
    // the main window hides, others minimise). Runs on the Qt main thread.
    void setMinimizeHandler(std::function<void(QWidget* window)> handler);

    // Pushed page events.
    void sendDeviceInput(const QString& reportHex);
    void sendDevicesChanged(int value);
    void sendCurrentPropChanged(int propIndex, int proMode);
    void sendSwitchVirtualDevice();
    void sendBrowserMessage(const QString& viewKey, const QString& message);

    // engine::Client
    void onAfterCreated(const engine::BrowserPtr& browser) override;
    void onBeforeClose(const engine::BrowserPtr& browser) override;
    bool onBeforePopup(const engine::BrowserPtr& browser, const QString& targetUrl) override;
    void onBeforeContextMenu(const engine::BrowserPtr& browser,
                             engine::ContextMenuModel& model) override;
    bool onDragEnter(const engine::BrowserPtr& browser, const engine::DragData& drag) override;
    bool onGeolocationPermission(const engine::BrowserPtr& browser, const QString& origin) override;
    bool onProtocolExecution(const engine::BrowserPtr& browser, const QString& url) override;
    void onBeforeBrowse(const engine::BrowserPtr& browser, const QString& url) override;
    void onLoadingStateChange(const engine::BrowserPtr& browser, bool isLoading, bool canGoBack,
                              bool canGoForward) override;
    void onLoadError(const engine::BrowserPtr& browser, int errorCode, const QString& errorText,
                     const QString& failedUrl) override;
    bool onProcessMessageReceived(const engine::BrowserPtr& browser, const QString& name,
                                  const QVariantList& arguments) override;
    QString onBeforeDownload(const engine::BrowserPtr& browser, const QString& suggestedName,
                             bool& showDialog) override;
    void onDownloadUpdated(const engine::BrowserPtr& browser, bool complete,
                           const QString& fullPath) override;
    engine::ResourceHandlerPtr getResourceHandler(const engine::BrowserPtr& browser,
                                                  const QString& url) override;

    // Whether a page may command the machine: the application's own pages only.
    bool isApplicationPage(const QString& url) const;

  private:
    // engine::MessageRouter::Handler: the page query path.
    bool onQuery(const engine::BrowserPtr& browser, qint64 queryId, const QString& request,
                 bool persistent, const engine::QueryCallbackPtr& callback) override;

    void sendToMainBrowser(const QString& name, const QVariantList& arguments);
    static void onMainThread(std::function<void()> task);
    void moveWindow(WId window, const QString& request, const engine::QueryCallbackPtr& callback);

    const QString appFolder_;
    const QString pageFolder_;
    const bool mouseCursorChangeDisabled_;

    mutable QMutex browserMutex_;  // mainBrowser_, mainBrowserId_
    engine::BrowserPtr mainBrowser_;
    int mainBrowserId_ = 0;

    std::atomic<WId> mainWindowHandle_{0};

    mutable QMutex stateMutex_;  // everything below
    Listener* currentListener_ = nullptr;
    QString viewKey_;
    struct PendingBrowser {
        Listener* listener;  // null once the view went away
        QString viewKey;
    };
    QList<PendingBrowser> pendingBrowsers_;
    QMultiMap<QString, engine::BrowserPtr> viewBrowsers_;
    QList<engine::BrowserPtr> popupBrowsers_;
    QString lastDownloadedPath_;
    std::function<void(QWidget*)> minimizeHandler_;

    std::unique_ptr<engine::MessageRouter> router_;  // engine UI thread only
};
