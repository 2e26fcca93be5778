#pragma once

#include <QMutex>
#include <QString>
#include <QWidget>

#include "webhost/client_handler.h"
#include "webhost/engine/engine.h"

Q_DECLARE_METATYPE(engine::QueryCallbackPtr)

// A widget holding one engine browser. Page queries arrive here as events and leave as
// the jsMessage signal.
class QCefWebView : public QWidget, public ClientHandler::Listener {
    Q_OBJECT
  public:
    enum class ViewState { None, Creating, Created };

    explicit QCefWebView(QWidget* parent = nullptr);
    ~QCefWebView() override;

    void load(const QString& url);
    QString url() const;
    // The key under which the view's browser is filed for page messages (the main page URL
    // for the main view, the relative page URL for a secondary view). Set before loading.
    void setViewKey(const QString& key);
    QString viewKey() const;
    ViewState state() const;
    bool loadPending() const;
    bool resizePending() const;

    // Every view answers with the handler's main browser.
    engine::BrowserPtr browser() const;

    // ClientHandler::Listener
    void browserCreated(const engine::BrowserPtr& browser) override;
    void postEvent(QEvent* event) override;
    void recordQueryBrowser(const engine::BrowserPtr& browser) override;

  signals:
    void titleChanged(const QString& title);
    void urlChanged();
    void loadStarted();
    void loadFinished();
    void navStateChanged(bool canGoBack, bool canGoForward);
    void jsMessage(const QString& name, const engine::QueryCallbackPtr& callbackPtr);

  public slots:
    void back();
    void forward();
    void reload();
    void stop();
    bool evaluateJavaScript(const QString& scriptSource);

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void customEvent(QEvent* event) override;

  private:
    void createBrowser(const QSize& size);
    void replayPending();

    mutable QMutex creationMutex_;  // guards the members below
    ViewState state_ = ViewState::None;
    bool resizePending_ = false;
    bool loadPending_ = false;
    QString url_;
    QString viewKey_;
    engine::BrowserPtr ownBrowser_;
    engine::BrowserPtr queryBrowser_;
};
