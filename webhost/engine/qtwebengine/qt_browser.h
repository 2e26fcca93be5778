#pragma once

#include <QAtomicInt>
#include <QMutex>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "webhost/engine/engine.h"

class QMimeData;
class QWebChannel;

namespace engine {

// What a drag over a view carries: a link is a URL other than a local file, so dragging
// files from the desktop is not a link.
DragData describeDrag(const QMimeData& data);

class QtEngine;
class BrowserView;

// The object each page reaches over the web channel: the renderer side of the page bridge
// lives in the page's injected script and talks to the browser side through it.
class HostBridge : public QObject {
    Q_OBJECT
  public:
    HostBridge(QtEngine* engine, int browserId, QObject* parent);

  public slots:
    void postMessage(const QString& name, const QVariantList& arguments);

  signals:
    void processMessage(const QString& name, const QVariantList& arguments);

  private:
    QtEngine* engine_;
    int browserId_;
};

class BrowserPage : public QWebEnginePage {
    Q_OBJECT
  public:
    BrowserPage(QtEngine* engine, QWebEngineProfile* profile, QObject* parent);

    void setBrowserId(int id) { browserId_ = id; }
    void noteStopRequested() { stopRequested_ = true; }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

  private:
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void onFeaturePermissionRequested(const QUrl& origin, Feature feature);

    QtEngine* engine_;
    int browserId_ = 0;
    bool stopRequested_ = false;
    QString unknownSchemeUrl_;  // a protocol the engine cannot load, until that load fails
};

class BrowserView : public QWebEngineView {
    Q_OBJECT
  public:
    BrowserView(QtEngine* engine, QWidget* parent);
    void setBrowserId(int id) { browserId_ = id; }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;

  private:
    QtEngine* engine_;
    int browserId_ = 0;
};

// A browser as the host sees it. Its calls may come from any thread; they are carried out
// on the main thread, where the view lives.
class QtBrowser : public Browser {
  public:
    QtBrowser(int identifier, bool popup, Client* client, BrowserView* view);

    int identifier() const override { return identifier_; }
    bool isPopup() const override { return popup_; }
    Client* client() const { return client_; }

    void goBack() override;
    void goForward() override;
    void reload() override;
    void stopLoad() override;
    void loadUrl(const QString& url) override;
    QString url() const override;
    void executeJavaScript(const QString& code, const QString& scriptUrl, int startLine) override;
    void sendProcessMessage(const QString& name, const QVariantList& arguments) override;
    void setBounds(const QRect& bounds) override;
    WId topLevelWindow() const override;
    void setMouseCursorChangeDisabled(bool disabled) override;

    // Main thread: state the engine keeps for other threads to read.
    void noteUrl(const QString& url);
    void noteTopLevelWindow(WId window);
    HostBridge* bridge() const { return bridge_; }

  private:
    void onMain(std::function<void(BrowserView*)> task);

    const int identifier_;
    const bool popup_;
    Client* client_;
    QPointer<BrowserView> view_;
    QPointer<HostBridge> bridge_;
    mutable QMutex mutex_;
    QString url_;
    WId topLevel_ = 0;
};

}  // namespace engine
