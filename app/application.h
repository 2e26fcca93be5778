#pragma once

// app/: start-up, the single instance, the configuration files, the window (which implements
// the commands' host and forwards to the macro engine) and the tray. May use every other folder.

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>

#include "app/app_context.h"
#include "app/ps_application.h"
#include "device/devices_handler.h"
#include "device/input_devices.h"
#include "platform/services.h"

class ClientHandler;
class QProcess;
class UpdateCheck;
class Window;

namespace update {
class FirmwareRecovery;
}

// The program's application object: single-instance guard, configuration files, the main
// window's lifetime and the order of shutdown.
class Application : public PsApplication {
    Q_OBJECT
  public:
    // The fixed local-socket name under which the running instance listens.
    static const QString instanceKey;

    // `pages`: the page bridge the engine reports to; null where there is no engine.
    Application(int& argc, char** argv, platform::Services& services,
                ClientHandler* pages = nullptr);
    ~Application() override;

    static Application* appInstance();
    static Window* mainWindow();
    static void requestQuit();
    static bool quitRequested();
    static bool autostartFlag();
    // The folder of the executable followed by "/".
    static QString appFolder();

    // Runs once before the event loop.
    void startInstance();

    bool loadConf();
    bool loadDefine();
    void saveConf();

    QMap<QString, QString> clientInfo() const { return clientInfo_; }
    QString clientValue(const QString& key) const { return clientInfo_.value(key); }
    QString confText() const { return confText_; }
    void setConfText(const QString& text) { confText_ = text; }
    QString hidCodeForKey(const QString& keyName) const;

    platform::Services& services() { return services_; }
    // What the window is built with.
    AppContext context();

    // The application's device tables, built once at start.
    void buildDeviceTable();
    devices_handler* deviceHandler() const { return deviceHandler_; }
    QMap<QString, Device_Record> deviceTable() const { return deviceTable_; }
    QMap<QString, int> nameCounts() const { return nameCounts_; }
    QStringList deviceKeys() const { return deviceKeys_; }
    // The mice and keyboards of the system; replaced on the library's thread on device events.
    InputDeviceLists inputDevices() const;
    void setInputDevices(const InputDeviceLists& lists);

  public slots:
    void play();
    void socketConnected();
    void socketError(QLocalSocket::LocalSocketError error);
    void socketDisconnected();
    void socketWritten(qint64 bytes);
    void socketReading();
    void newInstanceConnected();
    void readClients();
    void removeClients();
    void on_closeApp();
    // Records an installed client update's version as the client's in conf.xml.
    void recordClientVersion(const QString& version);

  private:
    struct PeerConnection {
        QPointer<QLocalSocket> socket;
        QByteArray input;
    };

    void startPrimary();
    void setUpdateEnvironment();
    void startMainWindow();
    // Replaces the update checker and asks the update service about the first device.
    void checkForUpdates(bool showLatest);
    void watchForLoader();
    void activateInstanceWindow(std::uint32_t pid);
    void answerSegments(PeerConnection& peer);

    platform::Services& services_;
    ClientHandler* pages_;

    QProcess* soundProcess_ = nullptr;
    QMap<QString, QString> clientInfo_;
    QString confText_;
    UpdateCheck* updateCheck_ = nullptr;
    update::FirmwareRecovery* firmwareRecovery_ = nullptr;
    QLocalSocket clientSocket_;
    QString answerBuffer_;
    QLocalServer server_;
    QList<PeerConnection> peers_;
    bool answerReceived_ = false;  // a later instance got the running one's answer
    bool secondaryMode_ = false;
    bool autostart_ = false;
    QMap<QString, Device_Record> deviceTable_;
    QMap<QString, int> nameCounts_;
    QStringList deviceKeys_;
    mutable std::mutex inputDevicesMutex_;  // read by the filter thread, set by the library's
    InputDeviceLists inputDevices_;
    Window* mainWindow_ = nullptr;
    devices_handler* deviceHandler_ = nullptr;
    QMap<QString, QString> keyCodeTable_;

    // Held while this process is the running instance, so that a name left behind by a
    // crashed instance can be told from a live one.
    std::unique_ptr<QLockFile> instanceLock_;
    int probeRetries_ = 0;
};
