#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryFile>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

#include "app/application.h"
#include "app/config_files.h"
#include "app/instance_protocol.h"
#include "app/window.h"
#include "base/engine_log.h"
#include "tests/macro/fake_input.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

Application* app = nullptr;
QString logPath;

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000) {
    return ProgramHarness::waitFor(condition, timeoutMs);
}

QString logText() {
    QFile file(logPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeResource(const QString& name, const QByteArray& text) {
    QDir().mkpath(Application::appFolder() + "Resources");
    QFile file(Application::appFolder() + "Resources/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// A later instance's side of the protocol.
class Peer {
  public:
    Peer() {
        socket_.connectToServer(Application::instanceKey);
        EXPECT_TRUE(waitFor([this] { return socket_.state() == QLocalSocket::ConnectedState; }));
    }
    void send(const QByteArray& bytes) {
        socket_.write(bytes);
        socket_.flush();
    }
    bool disconnected() const { return socket_.state() == QLocalSocket::UnconnectedState; }
    QByteArray receive(int expectedAnswers, int timeoutMs = 2000) {
        waitFor(
            [&] {
                received_ += socket_.readAll();
                return received_.count(';') >= expectedAnswers;
            },
            timeoutMs);
        return received_;
    }

  private:
    QLocalSocket socket_;
    QByteArray received_;
};

QByteArray answer() {
    return "RES:" + QByteArray::number(QCoreApplication::applicationPid()) + ";";
}

TEST(InstanceProtocol, TwoCommandsInOneReadAreBothAnswered) {
    Peer peer;
    peer.send("CMD:show;CMD:show;");
    EXPECT_EQ(peer.receive(2), answer() + answer());
}

TEST(InstanceProtocol, SegmentSplitAcrossReadsWaitsForItsEnd) {
    Peer peer;
    peer.send("CMD:sh");
    EXPECT_EQ(peer.receive(1, 300), "");
    peer.send("ow;");
    EXPECT_EQ(peer.receive(1), answer());
}

TEST(InstanceProtocol, UnknownCommandIsAnsweredAndOtherSegmentsAreNot) {
    Peer peer;
    peer.send("CMD:dance;hello;");
    EXPECT_EQ(peer.receive(1), answer());
    EXPECT_EQ(peer.receive(2, 300), answer());
    EXPECT_TRUE(
        logText().contains("Application Error: unknown command hello passed in local socket"));
}

TEST(InstanceProtocol, APeerFloodingWithoutEndIsDroppedAndLongSegmentsAreLoggedShort) {
    Peer flooding;
    flooding.send(QByteArray(200 * 1024, 'x'));
    EXPECT_TRUE(waitFor([&] { return flooding.disconnected(); }));
    EXPECT_TRUE(logText().contains("local socket peer sent more than 4096 bytes"));

    Peer talkative;
    talkative.send("hello" + QByteArray(3000, 'y') + ";CMD:show;");
    EXPECT_EQ(talkative.receive(1), answer());
    const QString log = logText();
    EXPECT_TRUE(log.contains("Application Error: unknown command hello" + QString(59, 'y') +
                             "... (3005 characters) passed in local socket"));
    EXPECT_FALSE(log.contains(QString(100, 'y')));

    // Others are served as before.
    Peer next;
    next.send("CMD:show;");
    EXPECT_EQ(next.receive(1), answer());
}

TEST(InstanceProtocol, APeerThatNeverReadsItsAnswersIsDropped) {
    Peer deaf;
    QByteArray commands;
    for (int i = 0; i < 400000; ++i)
        commands += "CMD:;";
    deaf.send(commands);
    EXPECT_TRUE(waitFor([&] { return deaf.disconnected(); }, 20000));
    EXPECT_TRUE(
        logText().contains("local socket peer left more than 1048576 bytes of answers "
                           "unread, dropping it"));
    Peer next;
    next.send("CMD:show;");
    EXPECT_EQ(next.receive(1), answer());
}

TEST(InstanceProtocol, AZeroByteDoesNotSwallowTheSegmentsAfterIt) {
    Peer peer;
    peer.send(QByteArray("CMD:sh\0w;CMD:show;", 19));
    EXPECT_EQ(peer.receive(2), answer() + answer());
}

TEST(InstanceProtocol, AnAnswerNamesOnlyAProcessIdItsDigitsGive) {
    using instance_protocol::answerProcessId;
    EXPECT_EQ(answerProcessId("RES:4242;"), 4242u);
    EXPECT_EQ(answerProcessId("noise RES:x; RES:17;RES:18;"), 17u);
    EXPECT_EQ(answerProcessId("RES:4242"), std::nullopt);
    // Cut to 32 bits these would name processes 1 and 0xffffffff: no process is activated.
    EXPECT_EQ(answerProcessId("RES:4294967297;"), 0u);
    EXPECT_EQ(answerProcessId("RES:18446744073709551615;"), 0u);
    EXPECT_EQ(answerProcessId("RES:4294967295;"), 4294967295u);
    EXPECT_EQ(answerProcessId(QString::fromUtf8(instance_protocol::answer(31337))), 31337u);
}

TEST(InstanceProtocol, ShowRestoresAMinimisedWindow) {
    Window* window = Application::mainWindow();
    ASSERT_NE(window, nullptr);
    window->setWindowState(Qt::WindowMinimized | Qt::WindowFullScreen);
    window->hide();
    Peer peer;
    peer.send("CMD:show;");
    peer.receive(1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(window->windowState() & Qt::WindowFullScreen);
}

TEST(Configuration, ComputedEntriesReplaceFileAttributes) {
    writeResource("conf.xml",
                  "<root><client name=\"Quillmere\" MacAddress=\"stored\" IpAddress=\"stored\" "
                  "version=\"2.1.0\"/></root>");
    ASSERT_TRUE(app->loadConf());
    EXPECT_EQ(app->clientValue("name"), "Quillmere");
    EXPECT_EQ(app->clientValue("version"), "2.1.0");
    EXPECT_NE(app->clientValue("MacAddress"), "stored");
    EXPECT_NE(app->clientValue("IpAddress"), "stored");
    EXPECT_TRUE(app->confText().contains("version=\"2.1.0\""));
    EXPECT_EQ(app->clientValue("absent"), "");
}

TEST(Configuration, MalformedConfKeepsWhatWasRead) {
    writeResource("conf.xml", "<root><client name=\"First\"/></root>");
    ASSERT_TRUE(app->loadConf());
    writeResource("conf.xml", "<root><client name=\"Second\"");
    EXPECT_FALSE(app->loadConf());
    EXPECT_EQ(app->clientValue("name"), "First");
    EXPECT_TRUE(app->confText().contains("First"));
}

TEST(Configuration, SaveConfReplacesTheFileWhole) {
    writeResource("conf.xml", "<root><client name=\"Old\"/></root>");
    ASSERT_TRUE(app->loadConf());
    app->setConfText("<root><client name=\"New\"/></root>");
    app->saveConf();
    ASSERT_TRUE(app->loadConf());
    EXPECT_EQ(app->clientValue("name"), "New");
}

TEST(Configuration, SaveConfRemovesWhatAnInterruptedSaveLeft) {
    const QString conf = Application::appFolder() + "Resources/conf.xml";
    writeResource("conf.xml", "<root><client name=\"Old\"/></root>");
    writeResource("conf.xml.bak", "keep");
    QString leftover;
    {
        // Named by Qt's own template for conf.xml, as the save file of a killed save is.
        QTemporaryFile interrupted(conf);
        interrupted.setAutoRemove(false);
        ASSERT_TRUE(interrupted.open());
        leftover = interrupted.fileName();
    }
    ASSERT_TRUE(leftover.startsWith(conf + ".") && QFile::exists(leftover));
    ASSERT_TRUE(app->loadConf());
    app->saveConf();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(conf + ".bak"));
    QFile::remove(leftover);
    QFile::remove(conf + ".bak");
}

TEST(Configuration, DefineEntriesFoldCaseAndLaterOnesWin) {
    writeResource(
        "define.xml",
        "<keyboard><key value=\"a\" hidCode=\"0x04\"/><item value=\"A\" hidCode=\"0x99\"/>"
        "<key value=\"Enter\" hidCode=\"0x28\"/></keyboard>");
    ASSERT_TRUE(app->loadDefine());
    EXPECT_EQ(app->hidCodeForKey("A"), "0x99");
    EXPECT_EQ(app->hidCodeForKey("ENTER"), "0x28");
    EXPECT_EQ(app->hidCodeForKey("Enter"), "");  // callers pass upper-case names
    QFile::remove(Application::appFolder() + "Resources/define.xml");
    EXPECT_FALSE(app->loadDefine());
    EXPECT_EQ(app->hidCodeForKey("A"), "0x99");  // never cleared
}

TEST(Configuration, ACutOffDefineAddsNoKey) {
    // pugixml keeps what it read before the error; none of it may reach the table.
    writeResource("define.xml", "<keyboard><key value=\"Q\" hidCode=\"0x14\"/><key value=");
    ASSERT_TRUE(app->loadDefine());
    EXPECT_EQ(app->hidCodeForKey("Q"), "");
    QFile::remove(Application::appFolder() + "Resources/define.xml");
}

TEST(Configuration, ADeviceFolderComesOnlyFromTheEntryForExactlyThatId) {
    const QByteArray conf =
        "<root><conf deviceId=\"A\"/><conf deviceId=\"A\"><productInfo device=\"first\"/>"
        "</conf><conf deviceId=\"B\"><productInfo device=\"other\"/></conf></root>";
    EXPECT_EQ(productDeviceFolder(conf, "A"), QString("first"));
    EXPECT_EQ(productDeviceFolder(conf, "B"), QString("other"));
    EXPECT_EQ(productDeviceFolder(conf, "C"), std::nullopt);
    // Spliced into an XPath, this identifier would select the first device's entry.
    EXPECT_EQ(productDeviceFolder(conf, "C' or '1'='1"), std::nullopt);
    EXPECT_EQ(productDeviceFolder(conf, "A'"), std::nullopt);
    EXPECT_EQ(productDeviceFolder("<root><conf deviceId=\"A\">", "A"), std::nullopt);
}

TEST(Presentation, AutostartKeepsTheWindowInTheTray) {
    AppContext context = app->context();
    context.trayAvailable = [] { return true; };
    Window window(context);
    window.presentAtStart(true);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);
    window.onSystemtrayActive(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window.isVisible());
    // Shown from the tray it stands where a window shown at start would: centred.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window.pos(), QPoint((screen.width() - 1000) / 2, (screen.height() - 700) / 2));
    window.onSystemtrayActive(QSystemTrayIcon::Context);
    EXPECT_TRUE(window.isVisible());
    window.hide();
}

TEST(Presentation, WithoutATrayTheWindowIsMinimisedNeverHidden) {
    AppContext context = app->context();
    context.trayAvailable = [] { return false; };
    Window window(context);
    window.presentAtStart(true);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    window.showNormal();
    window.quitApp();  // what closing does when the configuration keeps the program running
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    window.hide();
}

TEST(Presentation, SizeAndTitleComeFromTheConfiguration) {
    writeResource("conf.xml",
                  "<root><client name=\"Quillmere\" clientSize=\"1280,800\" "
                  "loadPath=\"view/index.html\"/></root>");
    ASSERT_TRUE(app->loadConf());
    Window window(app->context());
    EXPECT_EQ(window.windowTitle(), "Quillmere");
    // The test screen may be smaller than 1280 x 800: the window never exceeds the screens.
    const QSize screens = QGuiApplication::primaryScreen()->availableVirtualSize();
    EXPECT_EQ(window.size(), QSize(1280, 800).boundedTo(screens));
    EXPECT_EQ(window.minimumSize(), QSize(1280, 800).boundedTo(screens));
    EXPECT_EQ(window.mainPageUrl(),
              QUrl::fromLocalFile(Application::appFolder() + "view/index.html").toString());
}

TEST(Presentation, ShellResourcesAreThereAtRunTime) {
    EXPECT_TRUE(QFile::exists(":/qss/main"));
    EXPECT_FALSE(QPixmap(":/image/tray").isNull());
    EXPECT_FALSE(QPixmap(":/image/background").isNull());
    EXPECT_FALSE(app->styleSheet().isEmpty());
}

TEST(Presentation, TheMainPageFillsTheWindowInsideItsResizingBorder) {
    writeResource("conf.xml", "<root><client name=\"Quillmere\" clientSize=\"640,480\"/></root>");
    ASSERT_TRUE(app->loadConf());
    Window window(app->context());
    window.show();
    window.resize(700, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.mainView()->geometry(), QRect(4, 4, 692, 492));
    // Filling the screen, it has no border to resize by.
    window.showMaximized();
    waitFor([&] { return window.mainView()->size() == window.size(); });
    EXPECT_EQ(window.mainView()->geometry(), window.rect());
    window.hide();
}

TEST(Presentation, TheBorderResizesByTheEdgesAndCornersUnderThePointer) {
    const QSize size(100, 80);
    const struct {
        QPoint point;
        Qt::Edges edges;
    } cases[] = {
        {{50, 40}, {}},
        {{0, 40}, Qt::LeftEdge},
        {{3, 40}, Qt::LeftEdge},
        {{4, 40}, {}},
        {{99, 40}, Qt::RightEdge},
        {{50, 0}, Qt::TopEdge},
        {{50, 79}, Qt::BottomEdge},
        {{1, 1}, Qt::LeftEdge | Qt::TopEdge},
        {{98, 78}, Qt::RightEdge | Qt::BottomEdge},
        {{100, 40}, {}},  // outside
    };
    for (const auto& c : cases)
        EXPECT_EQ(resizeEdgesAt(c.point, size, 4), c.edges) << c.point.x() << "," << c.point.y();
    EXPECT_EQ(resizeEdgesAt({0, 0}, size, 0), Qt::Edges());
}

TEST(Presentation, UnusableSizesFallBackAndHugeOnesFitTheScreens) {
    const QSize screens = QGuiApplication::primaryScreen()->availableVirtualSize();
    const QList<QPair<QByteArray, QSize>> cases = {
        {"100000,100000", screens},
        {"abc,def", QSize(1000, 700).boundedTo(screens)},
        {"640", QSize(1000, 700).boundedTo(screens)},
        {"0,0", QSize(1000, 700).boundedTo(screens)},
        {"640,480", QSize(640, 480)},
    };
    for (const auto& [size, expected] : cases) {
        writeResource("conf.xml",
                      "<root><client name=\"Quillmere\" clientSize=\"" + size + "\"/></root>");
        ASSERT_TRUE(app->loadConf());
        Window window(app->context());
        EXPECT_EQ(window.size(), expected) << size.constData();
    }
}

TEST(Presentation, MainPageKeepsTheQueryAndFragmentOfItsPath) {
    writeResource("conf.xml",
                  "<root><client name=\"Quillmere\" "
                  "loadPath=\"template/default/index.html?lang=en#dpi\"/></root>");
    ASSERT_TRUE(app->loadConf());
    Window window(app->context());
    const QUrl page(window.mainPageUrl());
    EXPECT_EQ(page.toLocalFile(), Application::appFolder() + "template/default/index.html");
    EXPECT_EQ(page.query(), "lang=en");
    EXPECT_EQ(page.fragment(), "dpi");
    EXPECT_EQ(window.mainView()->viewKey(), window.mainPageUrl());
}

// Hands out recording clients whose open() succeeds or not, as the test says.
class RecordingVirtualHid : public platform::VirtualHid {
  public:
    std::unique_ptr<platform::VirtualHidClient> createClient() override {
        ++created;
        auto client = std::make_unique<fake::VirtualHidDevice>();
        client->opens = opens;
        last = client.get();
        return client;
    }
    int created = 0;
    bool opens = false;
    fake::VirtualHidDevice* last = nullptr;
};

TEST(VirtualDevice, AFailedConnectIsRetriedOnlyAfterDisconnectAndPlaybackUsesTheClient) {
    auto* hid = new RecordingVirtualHid;
    std::unique_ptr<platform::VirtualHid> system(hid);
    std::swap(app->services().virtualHid, system);
    {
        Window window(app->context());
        window.connectVMulti();
        EXPECT_FALSE(window.GetVirtualDeviceStatus());
        window.connectVMulti();
        EXPECT_EQ(hid->created, 1);
        window.playActions("按下(A)");  // not connected: dropped
        hid->opens = true;
        window.disconnectVMulti();
        window.connectVMulti();
        EXPECT_TRUE(window.GetVirtualDeviceStatus());
        EXPECT_EQ(hid->created, 2);

        window.playActions("按下(A)延迟(20)");
        // The key goes down, and once the task ends the window releases every key.
        ASSERT_TRUE(waitFor([&] { return hid->last->count() == 2; }));
        const auto reports = hid->last->reports();
        EXPECT_EQ(fake::keyboardOf(reports[0].bytes).first, 0);
        EXPECT_EQ(fake::keyboardOf(reports[1].bytes), std::make_pair(0, 0));
        EXPECT_TRUE(logText().contains("onTaskFinished reset all key"));
    }
    std::swap(app->services().virtualHid, system);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryFile log;
    log.open();
    logPath = log.fileName();
    engine::Log::open(logPath, engine::LogSeverity::Info);

    QByteArray autostart("-autostart");
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(autostart.data());
    int count = static_cast<int>(arguments.size());
    platform::Services services = platform::systemServices();
    Application application(count, arguments.data(), services);
    app = &application;
    application.startInstance();
    if (!waitFor([] { return Application::mainWindow() != nullptr; }))
        return 1;
    EXPECT_TRUE(Application::autostartFlag());

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    engine::Log::close();
    return result;
}
