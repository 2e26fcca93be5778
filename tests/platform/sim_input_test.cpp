// The simulated filter driver, virtual HID device, mouse settings and desktop of the Linux
// backend, driven and read as a user does: through the dcsim tool in a second process.

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/devices_handler.h"
#include "platform/linux/x11_input.h"
#include "platform/services.h"
#include "platform/sim/desktop.h"
#include "platform/sim/device_enumeration.h"
#include "platform/sim/filter_driver.h"
#include "platform/sim/input_files.h"
#include "platform/sim/mouse_settings.h"
#include "platform/sim/sim_state.h"
#include "platform/sim/virtual_hid.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and error
};

// dcsim with the test's state file (VELMORA_SIM_STATE is inherited).
ToolRun dcsim(const std::string& arguments) {
    const std::string command = std::string(VELMORA_APP_DIR "/dcsim ") + arguments + " 2>&1";
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, got);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        result.push_back(line);
    return result;
}

std::int64_t nowMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

platform::Stroke mouseStroke(std::uint16_t state) {
    platform::Stroke stroke;
    stroke.mouse.state = state;
    return stroke;
}

platform::Stroke keyStroke(std::uint16_t code, std::uint16_t state) {
    platform::Stroke stroke;
    stroke.key = platform::KeyStroke();
    stroke.key.code = code;
    stroke.key.state = state;
    return stroke;
}

// One stroke through the reading loop's steps, as its line.
std::string readOne(platform::FilterContext& context) {
    const int device = context.waitForStroke();
    platform::Stroke stroke;
    if (context.receiveStrokes(device, &stroke, 1) != 1)
        return "nothing from device " + std::to_string(device);
    return platform::strokeLine({device, stroke});
}

class SimInputTest : public ::testing::Test {
  protected:
    SimInputTest()
        : folder(fs::temp_directory_path() /
                 ("siminput-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          stateFile(folder / "sim.state"),
          files(platform::simInputFiles(stateFile)),
          desktop(std::make_shared<platform::SimDesktop>()),
          driver(stateFile, desktop) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        ::setenv("VELMORA_SIM_STATE", stateFile.c_str(), 1);
    }
    ~SimInputTest() override {
        ::unsetenv("VELMORA_SIM_STATE");
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    const fs::path folder;
    const fs::path stateFile;
    const platform::SimInputFiles files;
    const std::shared_ptr<platform::SimDesktop> desktop;
    platform::SimFilterDriver driver;
};

// ---- Filter driver

TEST_F(SimInputTest, StrokesFedByDcsimArriveInOrderAndOnce) {
    const std::vector<std::string> fed = {"mouse 11 4", "key 1 30 0", "mouse 12 1", "mouse 11 8",
                                          "key 1 57 3"};
    for (const std::string& stroke : fed)
        ASSERT_EQ(dcsim("stroke " + stroke).exitCode, 0) << stroke;
    EXPECT_EQ(files.strokes.parent_path(), folder);

    auto context = driver.open();
    ASSERT_TRUE(context);
    std::vector<std::string> read;
    for (std::size_t i = 0; i < fed.size(); ++i)
        read.push_back(readOne(*context));
    EXPECT_EQ(read, fed);
    EXPECT_EQ(platform::waitingStrokes(files.strokes), 0u);
    platform::Stroke stroke;
    EXPECT_EQ(context->receiveStrokes(11, &stroke, 1), 0);
}

TEST_F(SimInputTest, AReceiveTakesOnlyItsDevicesStrokes) {
    bool dropped = false;
    for (const char* line : {"mouse 11 4", "key 1 30 0", "mouse 11 8", "mouse 11 16"}) {
        platform::SimStroke stroke;
        ASSERT_TRUE(platform::parseStrokeLine(line, stroke));
        ASSERT_TRUE(platform::feedStroke(files.strokes, stroke, dropped));
    }
    auto context = driver.open();
    ASSERT_TRUE(context);
    platform::Stroke strokes[2];
    ASSERT_EQ(context->receiveStrokes(11, strokes, 2), 2);
    EXPECT_EQ(strokes[0].mouse.state, 4);
    EXPECT_EQ(strokes[1].mouse.state, 8);
    EXPECT_EQ(readOne(*context), "key 1 30 0");
    EXPECT_EQ(readOne(*context), "mouse 11 16");
    EXPECT_EQ(context->receiveStrokes(0, strokes, 2), 0);
    EXPECT_EQ(context->receiveStrokes(21, strokes, 2), 0);
}

TEST_F(SimInputTest, StrokesFedQuicklyFromAnotherProcessAreAllReadInOrder) {
    auto context = driver.open();
    ASSERT_TRUE(context);
    constexpr int kCount = 40;
    // A second process feeds while this one reads.
    const std::string feeder = "for i in $(seq 1 " + std::to_string(kCount) + "); do " +
                               VELMORA_APP_DIR "/dcsim stroke mouse 11 $i || exit 1; done";
    std::thread feeding([&feeder] { EXPECT_EQ(std::system(feeder.c_str()), 0); });
    std::vector<std::string> read;
    for (int i = 0; i < kCount; ++i)
        read.push_back(readOne(*context));
    feeding.join();
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(read[static_cast<std::size_t>(i)], "mouse 11 " + std::to_string(i + 1));
}

TEST_F(SimInputTest, AWaitingReaderBlocksUntilAStrokeIsFed) {
    auto context = driver.open();
    ASSERT_TRUE(context);
    std::atomic<bool> returned{false};
    std::atomic<std::int64_t> returnedAt{0};
    int device = 0;
    std::thread reader([&] {
        device = context->waitForStroke();
        returnedAt = nowMilliseconds();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned.load());
    const std::int64_t fedAt = nowMilliseconds();
    ASSERT_EQ(dcsim("stroke key 3 28 0").exitCode, 0);
    reader.join();
    EXPECT_EQ(device, 3);
    // Woken by the change, not by the occasional second look.
    EXPECT_LT(returnedAt - fedAt, 900);
}

TEST_F(SimInputTest, WakeEndsTheReadingLoopAndLeavesStrokesForTheNextContext) {
    auto context = driver.open();
    ASSERT_TRUE(context);
    int device = -1;
    std::thread reader([&] { device = context->waitForStroke(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    context->wake();
    reader.join();
    ASSERT_NE(device, 0);
    platform::Stroke stroke;
    EXPECT_EQ(context->receiveStrokes(device, &stroke, 1), 0);

    // Once woken it stays so: a stroke fed now is the next reader's.
    ASSERT_EQ(dcsim("stroke mouse 11 16").exitCode, 0);
    device = context->waitForStroke();
    EXPECT_EQ(context->receiveStrokes(device, &stroke, 1), 0);
    context.reset();
    auto next = driver.open();
    ASSERT_TRUE(next);
    EXPECT_EQ(readOne(*next), "mouse 11 16");
}

TEST_F(SimInputTest, StrokesPassedOnAreRecordedForDcsim) {
    auto context = driver.open();
    ASSERT_TRUE(context);
    const platform::Stroke buttons[] = {mouseStroke(4), mouseStroke(8)};
    EXPECT_EQ(context->sendStrokes(11, buttons, 2), 2);
    const platform::Stroke key = keyStroke(30, 1);
    EXPECT_EQ(context->sendStrokes(1, &key, 1), 1);
    EXPECT_EQ(context->sendStrokes(0, &key, 1), 0);
    EXPECT_EQ(context->sendStrokes(21, buttons, 1), 0);
    EXPECT_EQ(context->sendStrokes(11, buttons, 0), 0);

    ToolRun passed = dcsim("passed");
    EXPECT_EQ(passed.exitCode, 0);
    EXPECT_EQ(passed.output, "mouse 11 4\nmouse 11 8\nkey 1 30 1\n");
    EXPECT_EQ(dcsim("passed --clear").exitCode, 0);
    passed = dcsim("passed");
    EXPECT_EQ(passed.exitCode, 0);
    EXPECT_EQ(passed.output, "");
}

TEST_F(SimInputTest, HardwareIdsAreThoseTheInputDeviceScanFinds) {
    auto context = driver.open();
    ASSERT_TRUE(context);
    platform::SimDeviceEnumeration enumeration(stateFile);
    devices_handler handler(QString::fromStdString(folder.string()));
    handler.setDeviceEnumeration(&enumeration);
    ::testing::internal::CaptureStdout();  // the keyboard has no vendor interface
    const InputDeviceLists lists = handler.scanInputDevices();
    ::testing::internal::GetCapturedStdout();

    const ToolRun status = dcsim("status");
    EXPECT_EQ(status.exitCode, 0);
    for (const auto& [device, type] : {std::pair<int, const char*>{11, "mouse"}, {1, "keyboard"}}) {
        char16_t buffer[500];
        const std::size_t bytes = context->readHardwareId(device, buffer, sizeof buffer);
        ASSERT_GT(bytes, 2u) << device;
        ASSERT_EQ(bytes % 2, 0u);
        ASSERT_EQ(buffer[bytes / 2 - 1], u'\0');
        const QString id = QString::fromUtf16(buffer, static_cast<int>(bytes / 2 - 1));
        int matches = 0;
        for (const InputDeviceRecord& record : lists.devices) {
            if (record.hardwareId == id.toUpper()) {
                ++matches;
                EXPECT_EQ(record.type, type);
            }
        }
        EXPECT_EQ(matches, 1) << id.toStdString();
        const std::string line =
            "filter device " + std::to_string(device) + ": " + id.toStdString();
        EXPECT_NE(status.output.find(line + "\n"), std::string::npos) << status.output;
        // Too small a buffer gets nothing rather than a cut id.
        EXPECT_EQ(context->readHardwareId(device, buffer, bytes - 1), 0u);
    }
    EXPECT_EQ(QString::fromStdString(platform::simFilterHardwareId(11)),
              "HID\\VID_04D9&PID_A0D2&REV_0100&MI_00");
    char16_t buffer[500];
    EXPECT_EQ(context->readHardwareId(12, buffer, sizeof buffer), 0u);
    EXPECT_EQ(context->readHardwareId(0, buffer, sizeof buffer), 0u);
    EXPECT_EQ(context->readHardwareId(21, buffer, sizeof buffer), 0u);
}

TEST_F(SimInputTest, BadStrokeArgumentsAreRefusedWithTheUsage) {
    const std::vector<std::string> bad = {"stroke",
                                          "stroke mouse",
                                          "stroke mouse 10 4",
                                          "stroke mouse 21 4",
                                          "stroke key 11 30 0",
                                          "stroke key 0 30 0",
                                          "stroke key 1 30",
                                          "stroke mouse 11 65536",
                                          "stroke mouse 11 4 5",
                                          "stroke mouse 11 -4",
                                          "stroke mouse 11 0x4",
                                          "stroke mouse 11 '4 '",
                                          "stroke key 1 65536 0",
                                          "stroke wheel 11 4",
                                          "passed now",
                                          "reports --clean",
                                          "passed --clear x"};
    for (const std::string& arguments : bad) {
        const ToolRun run = dcsim(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.output.find("usage: dcsim"), std::string::npos) << arguments;
    }
    EXPECT_EQ(platform::waitingStrokes(files.strokes), 0u);
    EXPECT_EQ(dcsim("stroke mouse 20 65535").exitCode, 0);
    EXPECT_EQ(dcsim("stroke key 10 65535 65535").exitCode, 0);
    EXPECT_EQ(platform::waitingStrokes(files.strokes), 2u);
}

TEST_F(SimInputTest, TheQueueAndTheRecordsStayBounded) {
    bool dropped = false;
    const std::size_t fed = platform::kMaxWaitingStrokes + 5;
    for (std::size_t i = 0; i < fed; ++i) {
        platform::SimStroke stroke;
        stroke.device = 11;
        stroke.stroke.mouse.state = static_cast<std::uint16_t>(i);
        ASSERT_TRUE(platform::feedStroke(files.strokes, stroke, dropped));
        ASSERT_EQ(dropped, i >= platform::kMaxWaitingStrokes);
    }
    EXPECT_EQ(platform::waitingStrokes(files.strokes), platform::kMaxWaitingStrokes);
    auto context = driver.open();
    ASSERT_TRUE(context);
    EXPECT_EQ(readOne(*context), "mouse 11 5");

    const fs::path record = folder / "record";
    constexpr std::uintmax_t kLimit = 1000;
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(platform::appendRecord(record, "line " + std::to_string(i) + "\n", kLimit));
        ASSERT_LE(fs::file_size(record), kLimit);
    }
    std::string text;
    ASSERT_TRUE(platform::readRecord(record, text));
    const std::vector<std::string> kept = lines(text);
    ASSERT_GT(kept.size(), 10u);
    EXPECT_EQ(kept.back(), "line 499");
    // Whole lines only, the newest ones, without gaps.
    const int first = std::stoi(kept.front().substr(5));
    for (std::size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], "line " + std::to_string(first + static_cast<int>(i)));
}

TEST_F(SimInputTest, AQueueFileWithGarbageIsReadForItsStrokesOnly) {
    {
        std::ofstream out(files.strokes);
        out << "mouse 11 4\nnonsense\nmouse 10 4\nkey 1 30\n\nkey 2 30 1\n";
    }
    EXPECT_EQ(platform::waitingStrokes(files.strokes), 2u);
    auto context = driver.open();
    ASSERT_TRUE(context);
    EXPECT_EQ(readOne(*context), "mouse 11 4");
    EXPECT_EQ(readOne(*context), "key 2 30 1");

    // No folder to keep the queue in: no driver.
    platform::SimFilterDriver absent(folder / "missing" / "sim.state", desktop);
    EXPECT_FALSE(absent.open());
}

// ---- Virtual HID device

std::string hex(const std::vector<int>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < platform::kControlReportSize; ++i) {
        const int byte = i < bytes.size() ? bytes[i] : 0;
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

TEST_F(SimInputTest, ReportsAreRecordedWithTheirMonotonicTimes) {
    platform::SimVirtualHid device(stateFile);
    auto client = device.createClient();
    ASSERT_TRUE(client->open());
    const std::int64_t before = nowMilliseconds();
    const std::uint8_t keys[6] = {4, 5, 6, 7, 8, 9};
    ASSERT_TRUE(client->sendKeyboardReport(2, keys));
    const std::int64_t between = nowMilliseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(client->sendRelativeMouseReport(1, -1, 2, -3));
    const std::int64_t after = nowMilliseconds();

    const ToolRun run = dcsim("reports");
    ASSERT_EQ(run.exitCode, 0);
    const std::vector<std::string> reports = lines(run.output);
    ASSERT_EQ(reports.size(), 2u) << run.output;
    const std::regex form("(\\d+) ([0-9a-f]{130})");
    std::smatch first, second;
    ASSERT_TRUE(std::regex_match(reports[0], first, form)) << reports[0];
    ASSERT_TRUE(std::regex_match(reports[1], second, form)) << reports[1];
    EXPECT_EQ(first[2], hex({0x40, 0x09, 0x07, 0x02, 0x00, 4, 5, 6, 7, 8, 9}));
    // The report buffer is reused: what the mouse report does not set stays.
    EXPECT_EQ(second[2], hex({0x40, 0x05, 0x04, 0x01, 0xff, 0x02, 0xfd, 6, 7, 8, 9}));
    const std::int64_t t1 = std::stoll(first[1]);
    const std::int64_t t2 = std::stoll(second[1]);
    EXPECT_GE(t1, before);
    EXPECT_LE(t1, between);
    EXPECT_GE(t2 - t1, 99);
    EXPECT_LE(t2, after);

    EXPECT_EQ(dcsim("reports --clear").exitCode, 0);
    EXPECT_EQ(dcsim("reports").output, "");
    ASSERT_TRUE(client->sendKeyboardReport(0, keys));
    EXPECT_EQ(lines(dcsim("reports").output).size(), 1u);
}

TEST_F(SimInputTest, ReportsOfSeveralClientsNeverMix) {
    platform::SimVirtualHid device(stateFile);
    constexpr int kReports = 150;
    auto sender = [&device](std::uint8_t button) {
        auto client = device.createClient();
        ASSERT_TRUE(client->open());
        for (int i = 0; i < kReports; ++i)
            ASSERT_TRUE(client->sendRelativeMouseReport(button, 0, 0, 0));
    };
    std::thread one(sender, 1), two(sender, 2);
    one.join();
    two.join();
    std::string text;
    ASSERT_TRUE(platform::readRecord(files.reports, text));
    const std::vector<std::string> reports = lines(text);
    ASSERT_EQ(reports.size(), 2u * kReports);
    const std::regex form("\\d+ 4005040[12][0-9a-f]{122}");
    for (const std::string& report : reports)
        EXPECT_TRUE(std::regex_match(report, form)) << report;
}

TEST_F(SimInputTest, TheDeviceIsThereUnlessItsRecordCannotBeWritten) {
    platform::SimVirtualHid device(stateFile);
    auto client = device.createClient();
    const std::uint8_t keys[6] = {};
    EXPECT_FALSE(client->sendKeyboardReport(0, keys));  // not open yet
    ASSERT_TRUE(client->open());
    client->close();
    EXPECT_FALSE(client->sendRelativeMouseReport(0, 0, 0, 0));

    platform::SimVirtualHid nowhere(folder / "missing" / "sim.state");
    auto lost = nowhere.createClient();
    EXPECT_FALSE(lost->open());
    EXPECT_FALSE(lost->sendKeyboardReport(0, keys));
}

// ---- Mouse settings

TEST_F(SimInputTest, MouseSettingsStartAsWindowsDefaultsAndPersist) {
    {
        platform::SimMouseSettings settings(files.mouseSettings);
        std::array<int, 3> mouse{};
        int speed = 0;
        unsigned lines = 0, chars = 0;
        ASSERT_TRUE(settings.getMouse(mouse));
        ASSERT_TRUE(settings.getMouseSpeed(speed));
        ASSERT_TRUE(settings.getWheelScrollLines(lines));
        ASSERT_TRUE(settings.getWheelScrollChars(chars));
        EXPECT_EQ(mouse, (std::array<int, 3>{6, 10, 1}));
        EXPECT_EQ(speed, 10);
        EXPECT_EQ(lines, 3u);
        EXPECT_EQ(chars, 3u);
        EXPECT_EQ(settings.doubleClickTime(), 500u);

        EXPECT_TRUE(settings.setMouse({4, 6, 2}));
        EXPECT_TRUE(settings.setMouseSpeed(15));
        EXPECT_TRUE(settings.setWheelScrollLines(7));
        EXPECT_TRUE(settings.setWheelScrollChars(2));
        EXPECT_TRUE(settings.setDoubleClickTime(690));
    }
    platform::SimMouseSettings later(files.mouseSettings);
    std::array<int, 3> mouse{};
    int speed = 0;
    unsigned lines = 0, chars = 0;
    ASSERT_TRUE(later.getMouse(mouse));
    ASSERT_TRUE(later.getMouseSpeed(speed));
    ASSERT_TRUE(later.getWheelScrollLines(lines));
    ASSERT_TRUE(later.getWheelScrollChars(chars));
    EXPECT_EQ(mouse, (std::array<int, 3>{4, 6, 2}));
    EXPECT_EQ(speed, 15);
    EXPECT_EQ(lines, 7u);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(later.doubleClickTime(), 690u);
    // Only the settings file: no temporary one left behind.
    std::vector<fs::path> present;
    for (const auto& entry : fs::directory_iterator(folder))
        present.push_back(entry.path());
    EXPECT_EQ(present, std::vector<fs::path>{files.mouseSettings});
}

TEST_F(SimInputTest, MouseSettingsTakeWhatWindowsTakes) {
    platform::SimMouseSettings settings(files.mouseSettings);
    EXPECT_FALSE(settings.setMouseSpeed(0));
    EXPECT_FALSE(settings.setMouseSpeed(21));
    EXPECT_FALSE(fs::exists(files.mouseSettings));
    EXPECT_TRUE(settings.setMouseSpeed(1));
    EXPECT_TRUE(settings.setMouseSpeed(20));
    EXPECT_TRUE(settings.setDoubleClickTime(6000));
    EXPECT_EQ(settings.doubleClickTime(), 5000u);
    EXPECT_TRUE(settings.setDoubleClickTime(0));
    EXPECT_EQ(settings.doubleClickTime(), 500u);

    platform::SimMouseSettings nowhere(folder / "missing" / "sim.mouse");
    EXPECT_FALSE(nowhere.setWheelScrollLines(5));
}

TEST_F(SimInputTest, ADamagedSettingsFileReadsAsDefaultsAndIsReplacedWhole) {
    {
        std::ofstream out(files.mouseSettings);
        out << "speed 99\nwheel-lines -4\nacceleration 1 2\ndouble-click x\nwheel-chars 9\n";
    }
    platform::SimMouseSettings settings(files.mouseSettings);
    int speed = 0;
    unsigned lines = 0, chars = 0;
    std::array<int, 3> mouse{};
    ASSERT_TRUE(settings.getMouseSpeed(speed));
    ASSERT_TRUE(settings.getWheelScrollLines(lines));
    ASSERT_TRUE(settings.getWheelScrollChars(chars));
    ASSERT_TRUE(settings.getMouse(mouse));
    EXPECT_EQ(speed, 10);
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(chars, 9u);
    EXPECT_EQ(mouse, (std::array<int, 3>{6, 10, 1}));
    EXPECT_EQ(settings.doubleClickTime(), 500u);
    EXPECT_TRUE(settings.setMouseSpeed(12));
    std::ifstream in(files.mouseSettings);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "acceleration 6 10 1\nspeed 12\nwheel-lines 3\nwheel-chars 9\ndouble-click 500\n");
}

// ---- The simulated desktop

bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

TEST_F(SimInputTest, TheHookSeesLeftReleasesPassedOnAtTheCursorOnItsOwnThread) {
    platform::SimCursor cursor(desktop);
    platform::SimMouseHook hook(desktop);
    ASSERT_TRUE(cursor.setPosition(30, 40));
    int x = 0, y = 0;
    ASSERT_TRUE(cursor.position(x, y));
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
    EXPECT_FALSE(cursor.typeText(u"abc"));

    std::vector<std::pair<int, int>> clicks;
    bool onMainThread = true;
    ASSERT_TRUE(hook.install([&](int cx, int cy) {
        clicks.emplace_back(cx, cy);
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    }));
    auto context = driver.open();
    ASSERT_TRUE(context);
    auto pass = [&context](int device, platform::Stroke stroke) {
        std::thread filter([&] { EXPECT_EQ(context->sendStrokes(device, &stroke, 1), 1); });
        filter.join();
    };
    pass(11, mouseStroke(1));   // left down
    pass(1, keyStroke(30, 2));  // a key, whatever its state
    pass(12, mouseStroke(2));   // left up
    ASSERT_TRUE(waitFor([&] { return !clicks.empty(); }));
    cursor.setPosition(-5, 7);
    pass(11, mouseStroke(2 | 8));  // left and right up at once
    ASSERT_TRUE(waitFor([&] { return clicks.size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, (std::vector<std::pair<int, int>>{{30, 40}, {-5, 7}}));
    EXPECT_TRUE(onMainThread);

    hook.remove();
    pass(11, mouseStroke(2));
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks.size(), 2u);

    // Installing again replaces the callback.
    int replaced = 0;
    ASSERT_TRUE(hook.install([&](int, int) { ++replaced; }));
    ASSERT_TRUE(hook.install([&](int, int) { replaced += 10; }));
    pass(11, mouseStroke(2));
    ASSERT_TRUE(waitFor([&] { return replaced != 0; }));
    EXPECT_EQ(replaced, 10);
}

TEST(LinuxServices, EveryServiceOfTheEngineIsThereAndHotKeysNeedX11) {
    // This test's Qt runs on no X display.
    platform::Services services = platform::systemServices();
    EXPECT_TRUE(services.filterDriver);
    EXPECT_TRUE(services.virtualHid);
    EXPECT_TRUE(services.mouseSettings);
    EXPECT_TRUE(services.mouseHook);
    EXPECT_TRUE(services.cursor);
    EXPECT_TRUE(services.keyboardLayout);
    EXPECT_TRUE(services.processPriority);
    ASSERT_TRUE(services.globalHotKeys);
    EXPECT_FALSE(services.globalHotKeys->registerHotKey(1, platform::kHotKeyControl, 'A'));
    std::uint32_t id = 0;
    const char message[32] = {2};  // a key press
    EXPECT_FALSE(services.globalHotKeys->decodeActivation("xcb_generic_event_t", message, id));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
