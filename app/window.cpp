#include "app/window.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QResizeEvent>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include "app/application.h"
#include "app/config_files.h"
#include "app/system_tray.h"
#include "base/engine_log.h"
#include "base/startup_timeline.h"
#include "commands/command_arguments.h"
#include "commands/ui_language.h"
#include "device/device_change.h"
#include "macro/action_text.h"
#include "macro/command_exec.h"
#include "macro/qxt_global_shortcut.h"
#include "macro/virtual_hid_client.h"
#include "update/wrap_file_download.h"
#include "webhost/client_handler.h"
#include "webhost/page_geometry.h"
#include "webhost/pop_widget.h"
#include "webhost/qcef_web_view.h"

namespace {

constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 700;

// A size from conf.xml, or `fallback` when it is not two positive numbers; never larger
// than the screens.
QSize configuredSize(const QString& text, const QSize& fallback) {
    return webhost::boundedToScreens(webhost::parseWindowSize(text).value_or(fallback));
}

}  // namespace

namespace {

MacroEngine::Sources macroSources(const AppContext& context, ProfileStore& profiles) {
    Application* app = context.application;
    MacroEngine::Sources sources;
    sources.services = context.services;
    sources.inputDevices = [app] { return app ? app->inputDevices() : InputDeviceLists(); };
    sources.keyMapText = [&profiles](const QString& path) {
        const QString file = profiles.absolutePath(path);
        return !file.isEmpty() && profiles.cacheProfile(file) ? profiles.cachedProfile(file)
                                                              : QString();
    };
    sources.hidCodeForKey = [app](const QString& name) {
        return app ? app->hidCodeForKey(name) : QString();
    };
    return sources;
}

}  // namespace

Window::Window(const AppContext& context, QWidget* parent)
    : PsMainWindow(parent),
      context_(context),
      profiles_(QDir::cleanPath(context.appFolder)),
      mouseTracks_(context.services ? context.services->mouseHook.get() : nullptr),
      macro_(macroSources(context, profiles_)) {
    connect(&macro_, &MacroEngine::stopOutput, this, &Window::StopVCMDOutput);
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    Application* app = context_.application;
    const QMap<QString, QString> info = app ? app->clientInfo() : QMap<QString, QString>();

    setWindowTitle(info.value(QStringLiteral("name")));
    const QSize size = configuredSize(info.value(QStringLiteral("clientSize")),
                                      QSize(kDefaultWidth, kDefaultHeight));
    resize(size);
    setWindowOpacity(1.0);
    setWindowIcon(QIcon(QStringLiteral(":/image/")));

    view_ = new QCefWebView(this);
    view_->resize(size);
    setMinimumSize(size);
    setMouseTracking(true);

    templateFolder_ = context_.appFolder + QStringLiteral("template/default/");

    const QString loadPath = info.value(QStringLiteral("loadPath"));
    if (loadPath.contains(QLatin1String("http://")) ||
        loadPath.contains(QLatin1String("velmora://"))) {
        mainPageUrl_ = loadPath;
    } else {
        mainPageUrl_ = webhost::applicationPageUrl(context_.appFolder, loadPath);
    }
    view_->setViewKey(mainPageUrl_);
    if (ClientHandler* handler = context_.pages) {
        handler->setViewKey(mainPageUrl_);
        // A page's minimise request: the main window goes to the tray, secondary ones minimise.
        handler->setMinimizeHandler([this](QWidget* window) {
            closingWork();
            if (window->isMinimized())
                return;
            if (window == this) {
                hideToTray();
            } else {
                window->showMinimized();
            }
        });
    }
    view_->load(mainPageUrl_);
    connect(view_, &QCefWebView::jsMessage, this, &Window::onJsMessage);
    for (QxtGlobalShortcut*& shortcut : shortcuts_) {
        shortcut = new QxtGlobalShortcut(this);
        connect(shortcut, &QxtGlobalShortcut::activated, this, &Window::deviceHotKeyActive);
    }
}

Window::~Window() {
    qDeleteAll(activeDownloads_);
    activeDownloads_.clear();
    if (ClientHandler* handler = context_.pages)
        handler->setMinimizeHandler(nullptr);
    // Children outlive the members: nothing of theirs may call back into this window.
    for (QObject* child : children())
        child->disconnect(this);
    hotKeyDevices_.clear();
    const QList<PopWidget*> popups = popupViews_.values();
    popupViews_.clear();
    qDeleteAll(popups);
}

void Window::presentAtStart(bool autostart) {
    setUpFrame();
    quickSwitch_ = std::make_unique<TrayQuickSwitch>(deviceFunctions_, profiles_, [this] {
        return context_.application ? context_.application->confText().toUtf8() : QByteArray();
    });
    tray_ = new SystemTray([this] { return commands::uiLanguage(profiles_); }, *quickSwitch_, this);
    tray_->setVisible(true);
    connect(tray_, &QSystemTrayIcon::activated, this, &Window::onSystemtrayActive,
            Qt::UniqueConnection);
    connect(tray_, &SystemTray::showWidget, this, &Window::onshowWidget);
    connect(tray_, &SystemTray::closeApp, this, &Window::oncloseApp);
    // The page shows the new stage; a profile is applied by the page, which knows its parts.
    connect(tray_, &SystemTray::dpiStageChosen, this,
            [this](int index) { onCurrentPropChanged(index, TrayQuickSwitch::DpiStageChanged); });
    connect(tray_, &SystemTray::profileChosen, this,
            [this](int index) { onCurrentPropChanged(index, TrayQuickSwitch::ProfileRequested); });
    // Centred either way: a window kept in the tray appears centred when it is shown.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    move((screen.width() - kDefaultWidth) / 2, (screen.height() - kDefaultHeight) / 2);
    if (autostart) {
        setWindowState(windowState() | Qt::WindowMinimized);
        // Without a tray a hidden window could not be found again.
        if (context_.trayAvailable())
            hide();
        else
            showMinimized();
        return;
    }
    show();
}

void Window::closingWork() {
    profiles_.flushProfiles();
}

void Window::registerDeviceHotKey(QObject* shortcut, const QString& deviceId) {
    hotKeyDevices_.insert(shortcut, deviceId);
    connect(shortcut, &QObject::destroyed, this,
            [this, shortcut] { hotKeyDevices_.remove(shortcut); });
}

QString Window::askFileToSave(const FileQuestion& question) {
    return QFileDialog::getSaveFileName(this, question.title, question.start, question.filter);
}

QString Window::askFileToOpen(const FileQuestion& question) {
    return QFileDialog::getOpenFileName(this, question.title, question.start, question.filter);
}

QString Window::appFolder() const {
    return context_.appFolder;
}

platform::Services* Window::services() {
    return context_.services;
}

std::optional<QString> Window::closeFunction() {
    Application* app = context_.application;
    if (!app)
        return std::nullopt;
    app->loadConf();
    const QMap<QString, QString> info = app->clientInfo();
    const auto found = info.find(QStringLiteral("closeFunc"));
    if (found == info.end())
        return std::nullopt;
    return found.value();
}

void Window::quitApp() {
    hideToTray();
    closingWork();
}

// The first time the window goes to the tray the user is told where it went; where there is
// no tray it is only minimised, so it stays reachable.
void Window::hideToTray() {
    if (!context_.trayAvailable()) {
        showMinimized();
        return;
    }
    hide();
    const QString notices = QStringLiteral("profiles/notices.xml");
    const ProfileAnswer told =
        profiles_.queryProfile(notices, QStringLiteral("/notices[@tray='told']"));
    if ((told.kind != ProfileAnswer::Success || told.text.isEmpty()) && tray_) {
        tray_->tellStillRunning();
        profiles_.modifyProfileXml(notices, QStringLiteral("<notices tray=\"told\"/>"));
        profiles_.flushProfiles();
    }
}

void Window::finishLoading(bool) {
    ENGINE_LOG_INFO(QStringLiteral("加载完成"));
}

void Window::reload_currentPage() {
    view_->reload();
}

QWidget* Window::queryWindow() const {
    ClientHandler* handler = context_.pages;
    QWidget* widget = handler ? QWidget::find(handler->mainWindowHandle()) : nullptr;
    return widget ? widget->window() : const_cast<Window*>(this);
}

void Window::onJsMessage(const QString& name, const engine::QueryCallbackPtr& callbackPtr) {
    // A command runs to its end, modal dialogs included, before the next one starts: queries
    // delivered by a dialog's own event loop wait and run in order afterwards.
    waitingQueries_.append({name, callbackPtr});
    if (runningQuery_)
        return;
    runningQuery_ = true;
    while (!waitingQueries_.isEmpty()) {
        const WaitingQuery query = waitingQueries_.takeFirst();
        runQuery(query.name, query.callback);
    }
    runningQuery_ = false;
}

void Window::runQuery(const QString& name, const engine::QueryCallbackPtr& callbackPtr) {
    QWidget* target = queryWindow();
    if (name.contains(QLatin1String("maxsizeWindow"))) {
        savedGeometry_ = target->geometry();
        if (target == this)
            setResizable(false);
        target->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
        return;
    }
    if (name.contains(QLatin1String("restoreWindow"))) {
        if (target == this)
            setResizable(true);
        target->setGeometry(savedGeometry_);
        return;
    }
    const std::optional<QVariantMap> query = commands::parsePageQuery(name);
    if (!query)
        return;
    const QString funcname = commands::text(*query, "funcname");
    qDebug().noquote() << "funcname====" + funcname;
    startup::mark("first command");
    dispatcher_.dispatch(funcname, *query, callbackPtr);
}

void Window::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Unknown || reason == QSystemTrayIcon::DoubleClick ||
        reason == QSystemTrayIcon::Trigger) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        activateWindow();
        show();
    }
}

void Window::onCurrentPropChanged(int propIndex, int proMode) {
    if (ClientHandler* handler = context_.pages) {
        handler->sendCurrentPropChanged(propIndex, proMode);
    }
}

void Window::onshowWidget() {
    show();
}

void Window::oncloseApp() {
    closingWork();
    Application::requestQuit();
}

void Window::showMouseConf() {
    if (ClientHandler* handler = context_.pages)
        handler->sendSwitchVirtualDevice();
}

void Window::showDebug() {
    Application* app = context_.application;
    if (!app || app->clientInfo().isEmpty())
        return;
    const QString page = app->clientValue(QStringLiteral("testToolRurl"));
    openPopup(webhost::applicationPageUrl(context_.appFolder, page),
              configuredSize(app->clientValue(QStringLiteral("testToolSize")),
                             QSize(kDefaultWidth, kDefaultHeight)),
              page);
}

void Window::deviceHotKeyActive() {
    const QString deviceId = hotKeyDevices_.value(sender());
    if (deviceId.isEmpty())
        return;
    Application* app = context_.application;
    if (!app)
        return;
    const std::optional<QString> device = productDeviceFolder(app->confText().toUtf8(), deviceId);
    if (!device)
        return;
    const QString page = QStringLiteral("view/device/") + *device + QStringLiteral("/seting.html");
    openPopup(webhost::applicationPageUrl(context_.appFolder, page),
              webhost::boundedToScreens(QSize(1000, 600)), page);
}

void Window::closeCurrentPopup() {
    if (ClientHandler* handler = context_.pages) {
        handler->setCurrentListener(view_);
        handler->setMainWindowHandle(winId());
    }
    for (auto it = popupViews_.begin(); it != popupViews_.end(); ++it) {
        if (it.value() == currentPopup_) {
            popupViews_.erase(it);
            break;
        }
    }
    if (currentPopup_) {
        currentPopup_->deleteLater();
        currentPopup_ = nullptr;
    }
}

void Window::openPopup(const QString& url, const QSize& size, const QString& viewKey) {
    if (popupViews_.contains(url))
        return;
    auto* popup = new PopWidget(url, webhost::boundedToScreens(size), this, viewKey);
    popupViews_.insert(url, popup);
    // A window closed and opened again for the same URL is a new entry: the old window's
    // going must not remove it.
    connect(popup, &QObject::destroyed, this, [this, url, popup] {
        if (popupViews_.value(url) == popup)
            popupViews_.remove(url);
    });
    connect(popup, &PopWidget::activated, this,
            [this](PopWidget* active) { currentPopup_ = active; });
    if (ClientHandler* handler = context_.pages) {
        handler->setCurrentListener(popup->view());
        handler->setMainWindowHandle(popup->winId());
    }
    connect(popup->view(), &QCefWebView::jsMessage, this, &Window::onJsMessage);
    popup->show();
}

// The main page fills the window whatever size it takes.
void Window::resizeEvent(QResizeEvent* event) {
    PsMainWindow::resizeEvent(event);
    layOutContent();
}

// Inside the resizing border, which the window's own background shows as a thin frame.
void Window::layOutContent() {
    if (!view_)
        return;
    const int border = resizeBorder();
    view_->setGeometry(rect().adjusted(border, border, -border, -border));
}

bool Window::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    platform::DeviceNotifications* notifications =
        context_.services ? context_.services->deviceNotifications.get() : nullptr;
    platform::DeviceChange change;
    if (notifications && notifications->decode(eventType.toStdString(), message, change)) {
        onDeviceChange(change);
    }
    return PsMainWindow::nativeEvent(eventType, message, result);  // Qt carries on either way
}

void Window::onDeviceChange(const platform::DeviceChange& change) {
    if (change.event == platform::DeviceChangeEvent::Arrival ||
        change.event == platform::DeviceChangeEvent::RemoveComplete)
        emit deviceArrivedOrRemoved();
    Application* app = context_.application;
    const DeviceChangeDecision decision =
        decideDeviceChange(change, app ? app->deviceKeys() : QStringList());
    ENGINE_LOG_INFO(decision.logLine);
    if (!decision.push)
        return;
    if (ClientHandler* handler = context_.pages)
        handler->sendDevicesChanged(decision.code);
}

bool Window::GetVirtualDeviceStatus() const {
    return macro_.virtualDeviceConnected();
}

void Window::connectVMulti() {
    macro_.connectVMulti();
}

void Window::disconnectVMulti() {
    macro_.disconnectVMulti();
}

void Window::onTaskFinished(pvmulti_client*) {
    macro_.onTaskFinished();
}

void Window::playActions(const QString& strActions) {
    macro_.playActions(strActions);
}
