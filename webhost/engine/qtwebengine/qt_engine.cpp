#include "webhost/engine/qtwebengine/qt_engine.h"

#include <QApplication>
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMutexLocker>
#include <QWebChannel>
#include <QWebEngineDownloadItem>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include "webhost/engine/qtwebengine/qt_browser.h"

static void initEngineResources() {
    Q_INIT_RESOURCE(engine);
}

namespace engine {

class SchemeDispatcher : public QWebEngineUrlSchemeHandler {
  public:
    explicit SchemeDispatcher(QtEngine* engine) : engine_(engine) {}
    void requestStarted(QWebEngineUrlRequestJob* job) override { engine_->startSchemeRequest(job); }

  private:
    QtEngine* engine_;
};

namespace {

constexpr int kReadPiece = 64 * 1024;

QString readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// The channel transport and the application's renderer script, injected into every page
// before its own scripts.
QWebEngineScript bridgeScript(const QString& rendererScript) {
    QWebEngineScript script;
    script.setName(QStringLiteral("velmora-bridge"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(readWholeFile(QStringLiteral(":/qtwebchannel/qwebchannel.js")) +
                         QLatin1Char('\n') +
                         readWholeFile(QStringLiteral(":/engine/engine_transport.js")) +
                         QLatin1Char('\n') + rendererScript);
    return script;
}

void applySettings(QWebEngineSettings* target, const BrowserSettings& settings) {
    target->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                         settings.universalAccessFromFileUrls);
    target->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls,
                         settings.fileAccessFromFileUrls);
    target->setAttribute(QWebEngineSettings::LinksIncludedInFocusChain, settings.tabToLinks);
    // Every unknown protocol reaches the navigation check, where the client decides.
    target->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
}

}  // namespace

QtEngine::QtEngine() {
    initEngineResources();
}

QtEngine::~QtEngine() {
    shutdown();
}

int QtEngine::executeProcess(int, char**, App*) {
    // QtWebEngine starts its own helper processes from a separate executable.
    return -1;
}

QByteArray chromiumFlags(const QByteArray& given, bool noSandbox, bool softwareRendering) {
    QByteArray flags = given;
    const auto add = [&flags](const char* flag) {
        if (!flags.split(' ').contains(flag))
            flags += (flags.isEmpty() ? "" : " ") + QByteArray(flag);
    };
    // Without the sandbox the zygotes only pre-start renderers: two processes and about 30 MB
    // for a program that shows one page.
    if (noSandbox)
        add("--no-zygote");
    // Software rendering needs no GPU process.
    if (softwareRendering)
        add("--disable-gpu");
    return flags;
}

bool QtEngine::initialize(const Settings& settings, App* app) {
    if (initialized_)
        return false;
    settings_ = settings;
    app_ = app;
    if (settings.noSandbox && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // Without a window system there is no OpenGL; pages then render in software.
    const bool software = qgetenv("QT_QPA_PLATFORM") == "offscreen";
    if (software && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        qputenv("QT_QUICK_BACKEND", "software");
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            chromiumFlags(
                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                settings.noSandbox || !qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"),
                software));
    if (!QCoreApplication::instance()) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    if (!settings.logFile.isEmpty())
        Log::open(settings.logFile, settings.logSeverity);
    Log::setMinimumSeverity(settings.logSeverity);
    initialized_ = true;
    return true;
}

void QtEngine::shutdown() {
    if (uiContext_) {
        uiThread_.quit();
        uiThread_.wait();
        ioThread_.quit();
        ioThread_.wait();
        delete uiContext_;
        delete ioContext_;
        uiContext_ = nullptr;
        ioContext_ = nullptr;
    }
    {
        QMutexLocker lock(&mutex_);
        browsers_.clear();
        browserByPage_.clear();
    }
    schemeDispatcher_.reset();
}

bool QtEngine::registerSchemeHandlerFactory(const QString& schemeName, const QString& domainName,
                                            QSharedPointer<SchemeHandlerFactory> factory) {
    if (QCoreApplication::instance())
        return false;  // schemes are fixed once Qt runs
    QWebEngineUrlScheme scheme(schemeName.toUtf8());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
    Q_UNUSED(domainName);  // the factory decides per request; the host part names the domain
    QMutexLocker lock(&mutex_);
    factories_.insert(schemeName, std::move(factory));
    return true;
}

void QtEngine::startThreads() {
    std::call_once(threadsStarted_, [this] {
        uiThread_.setObjectName(QStringLiteral("EngineUI"));
        ioThread_.setObjectName(QStringLiteral("EngineIO"));
        uiContext_ = new QObject;
        ioContext_ = new QObject;
        uiContext_->moveToThread(&uiThread_);
        ioContext_->moveToThread(&ioThread_);
        uiThread_.start();
        ioThread_.start();
    });
}

QWebEngineProfile* QtEngine::profile() {
    if (!profileReady_)
        setUpProfile();
    return QWebEngineProfile::defaultProfile();
}

void QtEngine::setUpProfile() {
    profileReady_ = true;
    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    if (!settings_.cachePath.isEmpty())
        profile->setCachePath(settings_.cachePath);
    // The pages come from the application folder: a cache on disk only costs writes.
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    if (settings_.persistSessionCookies) {
        profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    }
    if (!settings_.userAgent.isEmpty())
        profile->setHttpUserAgent(settings_.userAgent);
    if (!settings_.locale.isEmpty())
        profile->setHttpAcceptLanguage(settings_.locale);
    schemeDispatcher_ = std::make_unique<SchemeDispatcher>(this);
    {
        QMutexLocker lock(&mutex_);
        for (auto it = factories_.cbegin(); it != factories_.cend(); ++it) {
            profile->installUrlSchemeHandler(it.key().toUtf8(), schemeDispatcher_.get());
        }
    }
    QObject::connect(
        profile, &QWebEngineProfile::downloadRequested, profile,
        [this](QWebEngineDownloadItem* item) {
            const BrowserPtr browser = browserForPage(item->page());
            if (!browser) {
                item->cancel();
                return;
            }
            Client* client = static_cast<QtBrowser*>(browser.data())->client();
            bool showDialog = false;
            QString path;
            runOnUiAndWait([&] {
                path = client->onBeforeDownload(browser, item->suggestedFileName(), showDialog);
            });
            if (!path.isEmpty() && showDialog) {
                path = QFileDialog::getSaveFileName(nullptr, QString(), path);
            }
            if (path.isEmpty()) {
                item->cancel();
                return;
            }
            const QFileInfo target(path);
            item->setDownloadDirectory(target.absolutePath());
            item->setDownloadFileName(target.fileName());
            QObject::connect(
                item, &QWebEngineDownloadItem::finished, item, [this, item, client, browser] {
                    const bool done = item->state() == QWebEngineDownloadItem::DownloadCompleted;
                    const QString full =
                        QDir(item->downloadDirectory()).filePath(item->downloadFileName());
                    postTask(Thread::UI, [client, browser, done, full] {
                        client->onDownloadUpdated(browser, done, full);
                    });
                });
            item->accept();
        });
}

bool QtEngine::createBrowser(QWidget* parent, const QRect& bounds, const BrowserSettings& settings,
                             const QString& url, Client* client) {
    return createBrowserView(parent, bounds, settings, url, client, false);
}

bool QtEngine::createBrowserView(QWidget* parent, const QRect& bounds,
                                 const BrowserSettings& settings, const QString& url,
                                 Client* client, bool popup) {
    if (!initialized_ || !client || !QCoreApplication::instance())
        return false;
    startThreads();
    QWebEngineProfile* webProfile = profile();

    auto* view = new BrowserView(this, parent);
    auto* page = new BrowserPage(this, webProfile, view);
    page->setBackgroundColor(QColor::fromRgba(settings_.backgroundColor));
    applySettings(page->settings(), settings);
    page->scripts().insert(bridgeScript(app_ ? app_->rendererScript() : QString()));

    int identifier = 0;
    {
        QMutexLocker lock(&mutex_);
        identifier = nextBrowserId_++;
        if (!defaultClient_)
            defaultClient_ = client;
    }
    auto* channel = new QWebChannel(page);
    channel->registerObject(QStringLiteral("velmoraHost"), new HostBridge(this, identifier, page));
    page->setWebChannel(channel, QWebEngineScript::MainWorld);
    view->setPage(page);
    page->setBrowserId(identifier);
    view->setBrowserId(identifier);
    view->setGeometry(bounds);

    const QSharedPointer<QtBrowser> browser(new QtBrowser(identifier, popup, client, view));
    browser->noteUrl(url);
    browser->noteTopLevelWindow(view->window()->winId());
    {
        QMutexLocker lock(&mutex_);
        browsers_.insert(identifier, browser);
        browserByPage_.insert(page, identifier);
    }
    QObject::connect(view, &QObject::destroyed, [this, identifier, client, browser] {
        forgetBrowser(identifier);
        postTask(Thread::UI, [client, browser] { client->onBeforeClose(browser); });
    });
    view->show();
    postTask(Thread::UI, [client, browser] { client->onAfterCreated(browser); });
    page->load(QUrl(url));
    return true;
}

bool QtEngine::currentlyOn(Thread thread) const {
    const QThread* current = QThread::currentThread();
    return thread == Thread::UI ? current == &uiThread_ : current == &ioThread_;
}

void QtEngine::postTask(Thread thread, std::function<void()> task) {
    startThreads();
    QMetaObject::invokeMethod(thread == Thread::UI ? uiContext_ : ioContext_, std::move(task),
                              Qt::QueuedConnection);
}

void QtEngine::runOnUiAndWait(const std::function<void()>& task) {
    startThreads();
    if (currentlyOn(Thread::UI)) {
        task();
        return;
    }
    QMetaObject::invokeMethod(uiContext_, task, Qt::BlockingQueuedConnection);
}

void QtEngine::postToMain(QObject* context, std::function<void()> task) {
    QObject* target = context ? context : QCoreApplication::instance();
    if (!target)
        return;
    QMetaObject::invokeMethod(target, std::move(task), Qt::QueuedConnection);
}

void QtEngine::startSchemeRequest(QWebEngineUrlRequestJob* job) {
    const QUrl requestUrl = job->requestUrl();
    const QString url = requestUrl.toString(QUrl::FullyEncoded);
    const QString scheme = requestUrl.scheme();
    QSharedPointer<SchemeHandlerFactory> factory;
    Client* client = nullptr;
    {
        QMutexLocker lock(&mutex_);
        factory = factories_.value(scheme);
        client = defaultClient_;
    }
    QPointer<QWebEngineUrlRequestJob> guard(job);
    postTask(Thread::IO, [guard, url, scheme, factory, client] {
        ResourceHandlerPtr handler;
        if (client)
            handler = client->getResourceHandler(BrowserPtr(), url);
        if (!handler && factory)
            handler = factory->create(BrowserPtr(), scheme, url);
        if (!handler || !handler->processRequest(url)) {
            postToMain(nullptr, [guard] {
                if (guard)
                    guard->fail(QWebEngineUrlRequestJob::UrlNotFound);
            });
            return;
        }
        QByteArray body;
        body.reserve(static_cast<int>(qMax<qint64>(0, handler->responseLength())));
        char piece[kReadPiece];
        int bytesRead = 0;
        while (handler->readResponse(piece, kReadPiece, bytesRead))
            body.append(piece, bytesRead);
        const QByteArray mime = handler->mimeType().toUtf8();
        postToMain(nullptr, [guard, body, mime] {
            if (!guard)
                return;
            auto* buffer = new QBuffer(guard);
            buffer->setData(body);
            buffer->open(QIODevice::ReadOnly);
            guard->reply(mime, buffer);
        });
    });
}

BrowserPtr QtEngine::browserForPage(const QObject* page) const {
    QMutexLocker lock(&mutex_);
    const auto it = browserByPage_.constFind(page);
    if (it == browserByPage_.cend())
        return BrowserPtr();
    return browsers_.value(it.value());
}

void QtEngine::forgetBrowser(int identifier) {
    QMutexLocker lock(&mutex_);
    browsers_.remove(identifier);
    for (auto it = browserByPage_.begin(); it != browserByPage_.end();) {
        if (it.value() == identifier) {
            it = browserByPage_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace engine
