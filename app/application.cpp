#include "app/application.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

#include <pugixml.hpp>

#include "app/config_files.h"
#include "app/instance_protocol.h"
#include "app/window.h"
#include "base/engine_log.h"
#include "base/startup_timeline.h"
#include "base/xml_string_writer.h"
#include "commands/ui_language.h"
#include "macro/qxt_global_shortcut.h"
#include "storage/safe_file_writer.h"
#include "update/client_install.h"
#include "update/firmware_recovery.h"
#include "update/package_signature.h"
#include "update/update_check.h"
#include "update/update_environment.h"
#include "webhost/client_handler.h"

namespace {

Application* currentApp = nullptr;
bool quitFlag = false;
bool autostart = false;
QString folder;

// Sounds play in a process of their own: the media framework, once loaded, would stay in this
// one for as long as the tray program runs (several MiB).
QString soundPlayer() {
    return folder + QStringLiteral("SoundPlayer");
}

// A command is a few bytes; a peer that sends more than this without ";" is not a later
// instance of ours.
constexpr int kMaxPeerInput = 4096;
constexpr int kLoggedSegmentLength = 64;
// Answers a peer has not read yet; a real instance asks once and reads at once.
constexpr qint64 kMaxPeerUnreadAnswers = 1 << 20;

constexpr int kProbeRetryMs = 200;
constexpr int kMaxProbeRetries = 25;

QString macAddress() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack)) {
            return interface.hardwareAddress();
        }
    }
    return QString();
}

QString ipAddress() {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost)) {
            return address.toString();
        }
    }
    return QString();
}

QString lockFilePath() {
    QString name = Application::instanceKey;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9-]")), QStringLiteral("_"));
    return QDir::temp().filePath(name + QStringLiteral(".lock"));
}

}  // namespace

const QString Application::instanceKey =
    QStringLiteral("Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}");

// The shell's style sheet and images live in a static library: the linker keeps them only
// when they are initialised by name.
static void initShellResources() {
    Q_INIT_RESOURCE(app);
}

Application::Application(int& argc, char** argv, platform::Services& services, ClientHandler* pages)
    : PsApplication(argc, argv), services_(services), pages_(pages) {
    initShellResources();
    for (int i = 0; i < argc; ++i) {
        if (qstrcmp(argv[i], "-autostart") == 0) {
            autostart = true;
            autostart_ = true;
        }
    }
}

Application::~Application() {
    // Peer sockets close while the server goes; their signals must not reach a dying object.
    for (const PeerConnection& peer : peers_) {
        if (peer.socket)
            peer.socket->disconnect(this);
    }
    peers_.clear();
    clientSocket_.disconnect(this);
    clientSocket_.close();
    delete updateCheck_;
    updateCheck_ = nullptr;
    delete firmwareRecovery_;
    firmwareRecovery_ = nullptr;
    devices_handler::setDeviceEventSink(nullptr);
    devices_handler::setDeviceDataSink(nullptr);
    devices_handler::setInputDeviceRescan(nullptr, nullptr);
    if (services_.deviceNotifications)
        services_.deviceNotifications->setListener(nullptr);
    delete mainWindow_;
    mainWindow_ = nullptr;
    delete deviceHandler_;
    deviceHandler_ = nullptr;
    server_.close();
    if (currentApp == this)
        currentApp = nullptr;
}

Application* Application::appInstance() {
    return currentApp;
}

Window* Application::mainWindow() {
    return currentApp ? currentApp->mainWindow_ : nullptr;
}

void Application::requestQuit() {
    if (quitFlag)
        return;
    quitFlag = true;
    if (currentApp)
        QCoreApplication::exit(0);
}

bool Application::quitRequested() {
    return quitFlag;
}

bool Application::autostartFlag() {
    return autostart;
}

QString Application::appFolder() {
    // The executable's folder is known as soon as Qt runs; start-up fixes it for good.
    if (folder.isEmpty() && QCoreApplication::instance()) {
        return QCoreApplication::applicationDirPath() + QLatin1Char('/');
    }
    return folder;
}

AppContext Application::context() {
    return {appFolder(), &services_, pages_, this};
}

void Application::startInstance() {
    folder = applicationDirPath() + QLatin1Char('/');
    setQuitOnLastWindowClosed(false);

    QFile style(QStringLiteral(":/qss/main"));
    setStyleSheet(style.open(QIODevice::ReadOnly) ? QString::fromUtf8(style.readAll()) : QString());

    if (services_.crashReporting) {
        services_.crashReporting->start(folder.toStdString(),
                                        (folder + QStringLiteral("CrashReporter")).toStdString());
    }

    if (currentApp) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error:another Application was creadted,terminating.."));
        QCoreApplication::exit(0);
        return;
    }
    currentApp = this;
    QxtGlobalShortcut::setBackend(services_.globalHotKeys.get());
    installPsEventFilter(std::make_unique<_PsEventFilter>(services_.nativeMessages.get()));

    connect(&clientSocket_, &QLocalSocket::connected, this, &Application::socketConnected);
    connect(&clientSocket_, &QLocalSocket::disconnected, this, &Application::socketDisconnected);
    connect(&clientSocket_, &QLocalSocket::errorOccurred, this, &Application::socketError);
    connect(&clientSocket_, &QLocalSocket::bytesWritten, this, &Application::socketWritten);
    connect(&clientSocket_, &QLocalSocket::readyRead, this, &Application::socketReading);
    connect(&server_, &QLocalServer::newConnection, this, &Application::newInstanceConnected);

    ENGINE_LOG_INFO(
        QStringLiteral("Application Info: connecting local socket to %1..").arg(instanceKey));
    clientSocket_.connectToServer(instanceKey, QIODevice::ReadWrite);
}

void Application::socketError(QLocalSocket::LocalSocketError error) {
    if (secondaryMode_) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: could not write show command, error %1, quiting..")
                .arg(static_cast<int>(error)));
        requestQuit();
        return;
    }
    if (instanceLock_)
        return;  // already the running instance
    if (error == QLocalSocket::ServerNotFoundError) {
        ENGINE_LOG_INFO(QStringLiteral(
            "Application Info: this is the only instance of Velmora, starting server and app.."));
    } else {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Info: socket connect error %1, starting server and app..")
                .arg(static_cast<int>(error)));
    }
    clientSocket_.abort();

    // Another live process holds the instance lock: it is starting up or running, so ask it
    // again once it listens rather than taking over its name.
    auto lock = std::make_unique<QLockFile>(lockFilePath());
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0) && probeRetries_ < kMaxProbeRetries) {
        ++probeRetries_;
        QTimer::singleShot(kProbeRetryMs, this, [this] {
            clientSocket_.connectToServer(instanceKey, QIODevice::ReadWrite);
        });
        return;
    }
    if (lock->isLocked()) {
        instanceLock_ = std::move(lock);
        QLocalServer::removeServer(instanceKey);  // a name a crashed instance left behind
    }
    startPrimary();
}

void Application::startPrimary() {
    if (!server_.listen(instanceKey)) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: failed to start listening to %1 server, error %2")
                .arg(instanceKey)
                .arg(static_cast<int>(server_.serverError())));
        requestQuit();
        return;
    }
    startMainWindow();
    QProcess::startDetached(soundPlayer(), {folder + QStringLiteral("Resources/music.mp3")});
}

void Application::socketConnected() {
    ENGINE_LOG_INFO(QStringLiteral(
        "Application Info: socket connected, this is not the first application instance, "
        "sending show command.."));
    secondaryMode_ = true;
    const QByteArray command = instance_protocol::showCommand();
    ENGINE_LOG_INFO(QStringLiteral("Application Info: writing commands %1")
                        .arg(QString::fromLocal8Bit(command)));
    clientSocket_.write(command);
}

void Application::socketWritten(qint64) {
    if (clientSocket_.state() != QLocalSocket::ConnectedState) {
        ENGINE_LOG_INFO(QStringLiteral("Application Error: socket is not connected %1")
                            .arg(static_cast<int>(clientSocket_.state())));
        return;
    }
    if (clientSocket_.bytesToWrite() == 0) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Info: show command written, waiting response.."));
    }
}

void Application::socketReading() {
    if (clientSocket_.state() != QLocalSocket::ConnectedState) {
        ENGINE_LOG_INFO(QStringLiteral("Application Error: socket is not connected %1")
                            .arg(static_cast<int>(clientSocket_.state())));
        return;
    }
    const QByteArray received = clientSocket_.readAll();
    answerBuffer_ += QString::fromUtf8(received.constData(), received.size());
    const std::optional<std::uint32_t> pid = instance_protocol::answerProcessId(answerBuffer_);
    if (!pid)
        return;
    answerReceived_ = true;
    activateInstanceWindow(*pid);
    ENGINE_LOG_INFO(
        QStringLiteral("Application Info: show command response received, pid = %1, activating "
                       "and quiting..")
            .arg(*pid));
    requestQuit();
}

void Application::socketDisconnected() {
    // After the answer the running instance closing the connection is expected.
    if (!secondaryMode_ || answerReceived_)
        return;
    ENGINE_LOG_INFO(QStringLiteral(
        "Application Error: socket disconnected before command response received, quiting.."));
    requestQuit();
}

void Application::activateInstanceWindow(std::uint32_t pid) {
    if (pid == 0 || !services_.windowActivation)
        return;
    services_.windowActivation->activateProcessWindow(pid, "^Quillmere(\\s*\\(\\d+\\))?$");
}

void Application::newInstanceConnected() {
    ENGINE_LOG_INFO(QStringLiteral("Application Info: new local socket connected"));
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        peers_.append({socket, QByteArray()});
        connect(socket, &QLocalSocket::readyRead, this, &Application::readClients);
        connect(socket, &QLocalSocket::disconnected, this, &Application::removeClients);
    }
}

namespace {

// Why a peer is no later instance of ours, or "" while it behaves like one.
template <typename Peer>
QString peerMisbehaviour(const Peer& peer) {
    if (peer.input.size() > kMaxPeerInput)
        return QStringLiteral("sent more than %1 bytes without \";\"").arg(kMaxPeerInput);
    // A peer that asks without reading the answers would have us hold them all.
    if (peer.socket->bytesToWrite() > kMaxPeerUnreadAnswers)
        return QStringLiteral("left more than %1 bytes of answers unread")
            .arg(kMaxPeerUnreadAnswers);
    return QString();
}

}  // namespace

void Application::readClients() {
    QList<QLocalSocket*> dropped;
    for (PeerConnection& peer : peers_) {
        if (!peer.socket)
            continue;
        // Bounded pieces: a peer can make us neither hold nor rescan much.
        while (peer.socket->bytesAvailable() > 0) {
            peer.input += peer.socket->read(kMaxPeerInput);
            answerSegments(peer);
            const QString misbehaviour = peerMisbehaviour(peer);
            if (!misbehaviour.isEmpty()) {
                ENGINE_LOG_INFO(
                    QStringLiteral("Application Error: local socket peer %1, dropping it")
                        .arg(misbehaviour));
                dropped.append(peer.socket);
                break;
            }
        }
    }
    for (QLocalSocket* socket : dropped) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        peers_.erase(
            std::remove_if(peers_.begin(), peers_.end(),
                           [socket](const PeerConnection& peer) { return peer.socket == socket; }),
            peers_.end());
    }
}

void Application::answerSegments(PeerConnection& peer) {
    for (const QString& segment : instance_protocol::takeSegments(peer.input)) {
        const std::optional<QString> command = instance_protocol::commandName(segment);
        if (!command) {
            const QString shown =
                segment.size() <= kLoggedSegmentLength
                    ? segment
                    : segment.left(kLoggedSegmentLength) +
                          QStringLiteral("... (%1 characters)").arg(segment.size());
            ENGINE_LOG_INFO(
                QStringLiteral("Application Error: unknown command %1 passed in local socket")
                    .arg(shown));
            continue;
        }
        if (*command == QLatin1String("show") && mainWindow_) {
            mainWindow_->setWindowState(mainWindow_->windowState() & ~Qt::WindowMinimized);
            mainWindow_->activateWindow();
            mainWindow_->show();
        }
        peer.socket->write(instance_protocol::answer(QCoreApplication::applicationPid()));
    }
}

void Application::removeClients() {
    ENGINE_LOG_INFO(QStringLiteral("Application Info: remove clients slot called, clients %1")
                        .arg(peers_.size()));
    for (auto it = peers_.begin(); it != peers_.end();) {
        if (!it->socket || it->socket->state() != QLocalSocket::ConnectedState) {
            ENGINE_LOG_INFO(QStringLiteral("Application Info: removing client"));
            if (it->socket)
                it->socket->deleteLater();
            it = peers_.erase(it);
        } else {
            ++it;
        }
    }
}

// One player for this sound: a new request starts it again from the beginning.
void Application::play() {
    if (!soundProcess_)
        soundProcess_ = new QProcess(this);
    soundProcess_->kill();
    soundProcess_->waitForFinished(1000);
    soundProcess_->start(soundPlayer(), {folder + QStringLiteral("Resources/music_02.mp3")});
}

void Application::on_closeApp() {
    if (mainWindow_)
        mainWindow_->closingWork();
    requestQuit();
}

void Application::startMainWindow() {
    {
        update::Environment installation;
        installation.appFolder = folder;
        installation.shell = services_.shellOperations.get();
        update::settleInterruptedUpdate(installation);
    }
    loadConf();
    startup::mark("configuration files");
    // The window starts loading the main page at once; the engine works on it in its own
    // processes while the devices are scanned here. No page command is handled before this
    // function returns, so none sees the scans unfinished.
    mainWindow_ = new Window(context());
    mainWindow_->winId();
    startup::mark("window");
    deviceHandler_ = new devices_handler(QString(), this);
    deviceHandler_->setDeviceEnumeration(services_.deviceEnumeration.get());
    startup::mark("device library");
    buildDeviceTable();
    startup::mark("device scan");
    setInputDevices(deviceHandler_->scanInputDevices());
    startup::mark("input-device scan");
    devices_handler::setInputDeviceRescan(
        deviceHandler_, [this](const InputDeviceLists& lists) { setInputDevices(lists); });
    // The library calls these on its own thread; the handler's senders are thread-safe.
    devices_handler::setDeviceEventSink([pages = pages_](quint16 code) {
        if (pages)
            pages->sendDevicesChanged(code);
    });
    devices_handler::setDeviceDataSink([pages = pages_](const QString& hex) {
        if (pages)
            pages->sendDeviceInput(hex);
    });
    // Connected once here: whether it worked decides below whether the input filter runs.
    mainWindow_->connectVMulti();
    startup::mark("virtual HID connect");
    if (platform::DeviceNotifications* notifications = services_.deviceNotifications.get()) {
        QPointer<Window> window = mainWindow_;
        notifications->setListener([window](const platform::DeviceChange& change) {
            QMetaObject::invokeMethod(qApp, [window, change] {
                if (window)
                    window->onDeviceChange(change);
            });
        });
        notifications->registerWindow(static_cast<std::uintptr_t>(mainWindow_->winId()));
    }
    if (ClientHandler* handler = pages_) {
        handler->setMainWindowHandle(mainWindow_->winId());
    }
    mainWindow_->presentAtStart(autostart_);
    startup::mark("window shown");
    setUpdateEnvironment();
    // Before the check, which tells the service the version installed.
    if (const std::optional<QString> installed =
            update::takeInstalledClientVersion(update::environment())) {
        recordClientVersion(*installed);
        setUpdateEnvironment();
    }
    checkForUpdates(false);
    startup::mark("update check sent");
    watchForLoader();
    loadDefine();
    startup::mark("global shortcuts");
    if (mainWindow_->GetVirtualDeviceStatus())
        mainWindow_->startInputFilter();
    startup::mark("filter thread");
    ENGINE_LOG_INFO(QStringLiteral("mainwindow show!"));
}

// Packages are checked against the publisher's key when conf.xml names one; a key that does
// not decode refuses every package rather than letting unsigned ones through.
void Application::setUpdateEnvironment() {
    QByteArray publicKey;
    const QString updateKey = clientValue(QStringLiteral("updateKey"));
    if (!updateKey.isEmpty()) {
        publicKey = update::decodePublicKey(updateKey);
        if (publicKey.isEmpty()) {
            ENGINE_LOG_INFO(QStringLiteral(
                "Update Error: updateKey in conf.xml is not a public key, updates are refused"));
            publicKey = QByteArrayLiteral("not a key");
        }
    }
    update::Environment environment;
    environment.appFolder = folder;
    environment.shell = services_.shellOperations.get();
    environment.publicKey = publicKey;
    environment.updateServer = clientValue(QStringLiteral("updateServer"));
    if (mainWindow_) {
        environment.library = &mainWindow_->deviceFunctions().library();
        QPointer<Window> window = mainWindow_;
        environment.language = [window] {
            return window ? commands::uiLanguage(window->profiles()) : QString();
        };
    }
    // The device table is ordered by name: its first record is the first device.
    if (!deviceTable_.isEmpty()) {
        environment.firstDeviceId = deviceTable_.first().deviceId;
        environment.firmwareVersion = QString::fromUtf8(deviceTable_.first().version);
    }
    environment.clientVersion = clientValue(QStringLiteral("version"));
    environment.allowDowngrade =
        clientValue(QStringLiteral("allowDowngrade")) == QLatin1String("true");
    update::setEnvironment(environment);
}

// A mouse left in its loader by a cut-off firmware write is looked for now and on every
// device change, from the system's notifications and the library's own events.
void Application::watchForLoader() {
    firmwareRecovery_ = new update::FirmwareRecovery(mainWindow_, this);
    connect(mainWindow_, &Window::deviceArrivedOrRemoved, firmwareRecovery_,
            &update::FirmwareRecovery::checkLoader);
    connect(deviceHandler_, &devices_handler::deviceChanged, firmwareRecovery_,
            &update::FirmwareRecovery::checkLoader);
    firmwareRecovery_->checkLoader();
}

void Application::recordClientVersion(const QString& version) {
    const QByteArray conf = confText_.toUtf8();
    pugi::xml_document document;
    if (!document.load_buffer(conf.constData(), size_t(conf.size())))
        return;
    if (clientValue(QStringLiteral("version")).isEmpty())
        return;
    pugi::xml_node client = document.child("root").child("client");
    if (!client)
        return;
    const QByteArray text = version.toUtf8();
    client.attribute("version").set_value(text.constData());
    xml_string_writer writer;
    document.save(writer, "\t", pugi::format_indent);
    confText_ = QString::fromStdString(writer.result);
    saveConf();
}

void Application::checkForUpdates(bool showLatest) {
    delete updateCheck_;
    updateCheck_ = new UpdateCheck(clientValue(QStringLiteral("updateServer")), mainWindow_, this);
    connect(updateCheck_, &UpdateCheck::closeApp, this, &Application::on_closeApp);
    connect(updateCheck_, &UpdateCheck::clientVersionStaged, this, [](const QString& version) {
        update::stageClientVersion(update::environment(), version);
    });
    // The device table is ordered by name: its first record is the first device.
    const Device_Record first = deviceTable_.isEmpty() ? Device_Record() : deviceTable_.first();
    updateCheck_->doCheckUpdate(QString::fromUtf8(first.name), QString::fromUtf8(first.version),
                                clientValue(QStringLiteral("version")), showLatest);
}

InputDeviceLists Application::inputDevices() const {
    std::lock_guard<std::mutex> lock(inputDevicesMutex_);
    return inputDevices_;
}

void Application::setInputDevices(const InputDeviceLists& lists) {
    std::lock_guard<std::mutex> lock(inputDevicesMutex_);
    inputDevices_ = lists;
}

void Application::buildDeviceTable() {
    deviceTable_.clear();
    deviceKeys_.clear();
    if (!deviceHandler_)
        return;
    const dc::DeviceListBlock block = deviceHandler_->listDevices();
    const int count = devices_handler::entryCount(block);
    for (int i = 0; i < count; ++i) {
        const dc::DeviceEntry& entry = block.entries[i];
        const QString key = devices_handler::deviceKey(entry.vendorId, entry.productId);
        const Device_Record record = devices_handler::deviceRecord(entry);
        const QString name = QString::fromUtf8(record.name);
        deviceTable_.insert(name, record);
        if (!name.isEmpty() && !deviceKeys_.contains(key))
            deviceKeys_.append(key);
        nameCounts_[name] += 1;
    }
    deviceHandler_->setKnownKeys(deviceKeys_);
}

bool Application::loadConf() {
    QFile file(folder + QStringLiteral("Resources/conf.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    const std::optional<QMap<QString, QString>> settings = parseClientSettings(bytes);
    if (!settings)
        return false;
    clientInfo_ = *settings;
    clientInfo_.insert(QStringLiteral("MacAddress"), macAddress());
    clientInfo_.insert(QStringLiteral("IpAddress"), ipAddress());
    confText_ = QString::fromUtf8(bytes);
    return true;
}

void Application::saveConf() {
    storage::writeFileSafely(folder + QStringLiteral("Resources/conf.xml"), confText_.toUtf8());
}

bool Application::loadDefine() {
    QFile file(folder + QStringLiteral("Resources/define.xml"));
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    addKeyDefinitions(QString::fromUtf8(file.readAll()).toUtf8(), keyCodeTable_);
    return true;
}

QString Application::hidCodeForKey(const QString& keyName) const {
    return keyCodeTable_.value(keyName);
}
