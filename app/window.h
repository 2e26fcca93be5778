#pragma once

#include <QMap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

#include "app/app_context.h"
#include "app/ps_main_window.h"
#include "app/tray_quick_switch.h"
#include "commands/command_dispatcher.h"
#include "commands/command_host.h"
#include "commands/profile_store.h"
#include "device/device_functions.h"
#include "macro/device_filter.h"
#include "macro/macro_engine.h"
#include "macro/mouse_track_recorder.h"
#include "platform/device_notifications.h"
#include "webhost/engine/engine.h"

#include "webhost/pop_widget.h"
class QCefWebView;
class QxtGlobalShortcut;
class SystemTray;
class pvmulti_client;
class wrapFileDownload;

// The program's one top-level window: the main page's view, the tray icon, the secondary
// windows, and the slot every page query reaches.
class Window : public PsMainWindow, public CommandHost {
    Q_OBJECT
  public:
    explicit Window(const AppContext& context, QWidget* parent = nullptr);
    ~Window() override;

    // Called once after construction: frame, tray icon, and shown or kept in the tray.
    void presentAtStart(bool autostart);
    // What every closing or hiding path does first: unsaved profiles are written.
    void closingWork();
    // Hides the window to the tray, or minimises it where there is no tray.
    void hideToTray();

    // CommandHost
    QString appFolder() const override;
    platform::Services* services() override;
    QWidget* dialogParent() override { return this; }
    QString askFileToSave(const FileQuestion& question) override;
    QString askFileToOpen(const FileQuestion& question) override;
    std::optional<QString> closeFunction() override;
    ClientHandler* pageBridge() override { return context_.pages; }
    QCefWebView* mainView() const override { return view_; }
    ProfileStore& profiles() override { return profiles_; }
    DeviceFunctions& deviceFunctions() override { return deviceFunctions_; }
    const QString& keyDefinitionFile() const override { return keyDefinitionFile_; }
    void setKeyDefinitionFile(const QString& name) override { keyDefinitionFile_ = name; }
    SystemTray* tray() const { return tray_; }
    QString mainPageUrl() const { return mainPageUrl_; }
    QString templateFolder() const { return templateFolder_; }
    const QMap<QString, PopWidget*>& popupViews() const { return popupViews_; }

    // Opens a secondary window for `url` unless one is open for it already; its page gets
    // the messages sent to `viewKey`.
    void openPopup(const QString& url, const QSize& size, const QString& viewKey) override;
    // Closes the secondary window activated last; page queries go to the main view again.
    void closeCurrentPopup() override;
    // A downloadFile command's download; kept until the window goes.
    void addDownload(wrapFileDownload* download) override { activeDownloads_.append(download); }
    PopWidget* currentPopup() const { return currentPopup_; }

    // A device arrived or went, as the system's device-change notification says.
    void onDeviceChange(const platform::DeviceChange& change);

    // Device identifiers by global shortcut; the input filter fills it.
    void registerDeviceHotKey(QObject* shortcut, const QString& deviceId);
    QxtGlobalShortcut* globalShortcut(int index) const { return shortcuts_[index]; }

    DEVICE_FILTER* deviceFilter() const override { return macro_.deviceFilter(); }
    // (Re)starts the input filter on a thread of its own; playback starts afresh.
    void startInputFilter() { macro_.startInputFilter(); }
    MouseTrackRecorder& mouseTracks() override { return mouseTracks_; }

  signals:
    void StopVCMDOutput(bool stop);
    // A device arrived or went, as onDeviceChange learnt.
    void deviceArrivedOrRemoved();

  public slots:
    void quitApp() override;
    void finishLoading(bool ok);
    void reload_currentPage();
    void onJsMessage(const QString& name, const engine::QueryCallbackPtr& callbackPtr);
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onCurrentPropChanged(int propIndex, int proMode);
    void onshowWidget();
    void oncloseApp() override;
    void showMouseConf();
    void showDebug();
    void onTaskFinished(pvmulti_client* m_vmultia);
    void deviceHotKeyActive();
    bool GetVirtualDeviceStatus() const;
    void playActions(const QString& strActions) override;
    void connectVMulti();
    void disconnectVMulti();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void layOutContent() override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

  private:
    QWidget* queryWindow() const;
    void runQuery(const QString& name, const engine::QueryCallbackPtr& callbackPtr);

    const AppContext context_;
    QCefWebView* view_ = nullptr;
    QString templateFolder_;
    QString keyDefinitionFile_ = QStringLiteral("mouse1.1.xml");
    QString mainPageUrl_;
    QMap<QString, PopWidget*> popupViews_;
    QPointer<PopWidget> currentPopup_;
    QList<wrapFileDownload*> activeDownloads_;
    QMap<QObject*, QString> hotKeyDevices_;
    ProfileStore profiles_;
    DeviceFunctions deviceFunctions_;
    CommandDispatcher dispatcher_{*this};
    QRect savedGeometry_;
    struct WaitingQuery {
        QString name;
        engine::QueryCallbackPtr callback;
    };
    QList<WaitingQuery> waitingQueries_;
    bool runningQuery_ = false;
    MouseTrackRecorder mouseTracks_;
    MacroEngine macro_;
    QxtGlobalShortcut* shortcuts_[2] = {nullptr, nullptr};
    SystemTray* tray_ = nullptr;
    std::unique_ptr<TrayQuickSwitch> quickSwitch_;
};
