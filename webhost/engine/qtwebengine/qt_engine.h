#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <memory>
#include <mutex>

#include "webhost/engine/engine.h"

class QWebEngineProfile;
class QWebEngineUrlRequestJob;

namespace engine {

class QtBrowser;
class SchemeDispatcher;

// The Chromium switches the engine runs with: `given` (the environment's) and what a
// one-window desktop tool needs beside it, each switch once.
QByteArray chromiumFlags(const QByteArray& given, bool noSandbox, bool softwareRendering);

// The engine on QtWebEngine. Chromium's own UI thread is Qt's main thread there, so the
// engine UI thread of the host is a thread of this backend: notifications are handed to it,
// and the calls it makes on browsers come back to the main thread, where the pages live.
// Resource requests are served from a separate I/O thread.
class QtEngine : public Engine {
  public:
    QtEngine();
    ~QtEngine() override;

    // Must run before the QApplication exists (scheme registration, OpenGL sharing).
    int executeProcess(int argc, char** argv, App* app) override;
    bool initialize(const Settings& settings, App* app) override;
    void shutdown() override;

    bool registerSchemeHandlerFactory(const QString& schemeName, const QString& domainName,
                                      QSharedPointer<SchemeHandlerFactory> factory) override;
    bool createBrowser(QWidget* parent, const QRect& bounds, const BrowserSettings& settings,
                       const QString& url, Client* client) override;

    // A browser the engine opens itself (a page's popup) is marked as a popup.
    bool createBrowserView(QWidget* parent, const QRect& bounds, const BrowserSettings& settings,
                           const QString& url, Client* client, bool popup);

    bool currentlyOn(Thread thread) const override;
    void postTask(Thread thread, std::function<void()> task) override;

    // Runs `task` on the UI thread and waits for it; for the engine's synchronous questions.
    void runOnUiAndWait(const std::function<void()>& task);
    static void postToMain(QObject* context, std::function<void()> task);

    // Serves one request of a registered scheme: interception first, then the factory.
    void startSchemeRequest(QWebEngineUrlRequestJob* job);

    BrowserPtr browserForPage(const QObject* page) const;
    void forgetBrowser(int identifier);

    QWebEngineProfile* profile();
    const Settings& settings() const { return settings_; }

  private:
    void startThreads();
    void setUpProfile();

    Settings settings_;
    App* app_ = nullptr;
    bool initialized_ = false;

    std::once_flag threadsStarted_;
    QThread uiThread_;
    QThread ioThread_;
    QObject* uiContext_ = nullptr;
    QObject* ioContext_ = nullptr;

    mutable QMutex mutex_;
    QHash<QString, QSharedPointer<SchemeHandlerFactory>> factories_;  // by scheme name
    QHash<int, QSharedPointer<QtBrowser>> browsers_;
    QHash<const QObject*, int> browserByPage_;
    Client* defaultClient_ = nullptr;  // the client of the first browser, for popups
    int nextBrowserId_ = 1;

    std::unique_ptr<SchemeDispatcher> schemeDispatcher_;
    bool profileReady_ = false;

    friend class QtBrowser;
};

}  // namespace engine
