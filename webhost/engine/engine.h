#pragma once

// The narrow interface through which the browser host talks to the embedded browser engine.
// Its shape follows what the host needs: browsers created and closed, navigation, scripts,
// process messages to pages, page queries, resource handlers and the engine's notifications.
// Client notifications arrive on the engine's UI thread; resource requests on its I/O thread.

#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QWidget>

#include <functional>

#include "base/engine_log.h"

namespace engine {

struct Settings {
    bool noSandbox = true;
    bool multiThreadedMessageLoop = true;
    QString cachePath;
    bool persistSessionCookies = false;
    QString userAgent;
    QString productVersion;
    QString locale;
    QString logFile;
    LogSeverity logSeverity = LogSeverity::Info;
    quint32 backgroundColor = 0xFFFFFFFF;  // ARGB
};

struct BrowserSettings {
    bool caretBrowsing = false;
    bool universalAccessFromFileUrls = false;
    bool fileAccessFromFileUrls = true;
    bool webSecurity = true;
    bool textAreaResizable = true;
    bool tabToLinks = true;
};

class Browser {
  public:
    virtual ~Browser() = default;

    virtual int identifier() const = 0;
    virtual bool isPopup() const = 0;

    // Navigation and scripts act on the main frame. Callable from any thread.
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual void reload() = 0;
    virtual void stopLoad() = 0;
    virtual void loadUrl(const QString& url) = 0;
    virtual QString url() const = 0;
    virtual void executeJavaScript(const QString& code, const QString& scriptUrl,
                                   int startLine) = 0;

    // A named message to the page's renderer side.
    virtual void sendProcessMessage(const QString& name, const QVariantList& arguments) = 0;

    // The browser's own window inside its host widget, and the top-level window holding it.
    virtual void setBounds(const QRect& bounds) = 0;
    virtual WId topLevelWindow() const = 0;

    virtual void setMouseCursorChangeDisabled(bool disabled) = 0;
};
using BrowserPtr = QSharedPointer<Browser>;

// The reply side of one page query; answered at most once.
class QueryCallback {
  public:
    virtual ~QueryCallback() = default;
    virtual void Success(const QString& response) = 0;
    virtual void Failure(int errorCode, const QString& errorMessage) = 0;
};
using QueryCallbackPtr = QSharedPointer<QueryCallback>;

// Serves one resource request.
class ResourceHandler {
  public:
    virtual ~ResourceHandler() = default;

    // Starts the request; the response headers are ready when this returns true.
    virtual bool processRequest(const QString& url) = 0;
    virtual int status() const = 0;
    virtual QString mimeType() const = 0;
    virtual QList<QPair<QByteArray, QByteArray>> headers() const = 0;
    virtual qint64 responseLength() const = 0;
    // Copies at most `bytesToRead` bytes; false once no bytes remain.
    virtual bool readResponse(char* out, int bytesToRead, int& bytesRead) = 0;
};
using ResourceHandlerPtr = QSharedPointer<ResourceHandler>;

class SchemeHandlerFactory {
  public:
    virtual ~SchemeHandlerFactory() = default;
    virtual ResourceHandlerPtr create(const BrowserPtr& browser, const QString& schemeName,
                                      const QString& url) = 0;
};

class ContextMenuModel {
  public:
    explicit ContextMenuModel(int itemCount) : count_(itemCount) {}
    int count() const { return count_; }
    void clear() { count_ = 0; }

  private:
    int count_;
};

struct DragData {
    bool isLink = false;
    QString linkUrl;
};

// The engine's notifications to its client. UI-thread notifications unless stated.
class Client {
  public:
    virtual ~Client() = default;

    virtual void onAfterCreated(const BrowserPtr& browser) = 0;
    virtual void onBeforeClose(const BrowserPtr& browser) = 0;
    // True cancels the engine's popup window.
    virtual bool onBeforePopup(const BrowserPtr& browser, const QString& targetUrl) = 0;
    virtual void onBeforeContextMenu(const BrowserPtr& browser, ContextMenuModel& model) = 0;
    // True refuses the drag.
    virtual bool onDragEnter(const BrowserPtr& browser, const DragData& drag) = 0;
    // True grants the permission.
    virtual bool onGeolocationPermission(const BrowserPtr& browser, const QString& origin) = 0;
    // True lets the operating system run the URL's protocol handler.
    virtual bool onProtocolExecution(const BrowserPtr& browser, const QString& url) = 0;
    virtual void onBeforeBrowse(const BrowserPtr& browser, const QString& url) = 0;
    virtual void onLoadingStateChange(const BrowserPtr& browser, bool isLoading, bool canGoBack,
                                      bool canGoForward) = 0;
    virtual void onLoadError(const BrowserPtr& browser, int errorCode, const QString& errorText,
                             const QString& failedUrl) = 0;
    // A named message from a page's renderer side; true when it was handled.
    virtual bool onProcessMessageReceived(const BrowserPtr& browser, const QString& name,
                                          const QVariantList& arguments) = 0;
    // Returns the full path to save a download under; `showDialog` asks the engine for its
    // save dialog. An empty path cancels the download.
    virtual QString onBeforeDownload(const BrowserPtr& browser, const QString& suggestedName,
                                     bool& showDialog) = 0;
    virtual void onDownloadUpdated(const BrowserPtr& browser, bool complete,
                                   const QString& fullPath) = 0;
    // I/O thread: a handler that serves the request, or null to let the engine load it.
    virtual ResourceHandlerPtr getResourceHandler(const BrowserPtr& browser,
                                                  const QString& url) = 0;
};

// The engine application object, handed to the engine in every process.
class App {
  public:
    virtual ~App() = default;
    virtual QStringList cookieableSchemes() const = 0;
    // Runs in every page before the page's own scripts; the renderer side of the host.
    virtual QString rendererScript() const = 0;
};

enum class Thread { UI, IO };

// One engine per process.
class Engine {
  public:
    virtual ~Engine() = default;

    // The engine's sub-process claim: >= 0 when this process is one of its sub-processes.
    virtual int executeProcess(int argc, char** argv, App* app) = 0;
    virtual bool initialize(const Settings& settings, App* app) = 0;
    virtual void shutdown() = 0;

    virtual bool registerSchemeHandlerFactory(const QString& schemeName, const QString& domainName,
                                              QSharedPointer<SchemeHandlerFactory> factory) = 0;

    // Creates a browser inside `parent` (Qt main thread); the client's onAfterCreated follows.
    virtual bool createBrowser(QWidget* parent, const QRect& bounds,
                               const BrowserSettings& settings, const QString& url,
                               Client* client) = 0;

    virtual bool currentlyOn(Thread thread) const = 0;
    virtual void postTask(Thread thread, std::function<void()> task) = 0;
};

// The process's engine, set once by the main routine (or a test).
Engine* instance();
void setInstance(Engine* engine);

}  // namespace engine
