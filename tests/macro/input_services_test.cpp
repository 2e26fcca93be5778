// The system mouse settings in levels, the click recorder and the global shortcuts, over
// fake platform services.

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <map>

#include "device/system_mouse_settings.h"
#include "fake_input.h"
#include "macro/mouse_track_recorder.h"
#include "macro/qxt_global_shortcut.h"
#include "tests/commands/qt_printers.h"

namespace {

class FakeMouseSettings : public platform::MouseSettings {
  public:
    bool setMouse(const std::array<int, 3>& values) override {
        return take("mouse", (mouse = values)[2]);
    }
    bool getMouse(std::array<int, 3>& values) override {
        values = mouse;
        return works;
    }
    bool setMouseSpeed(int value) override { return take("speed", speed = value); }
    bool getMouseSpeed(int& value) override {
        if (works)
            value = speed;
        return works;
    }
    bool setWheelScrollLines(unsigned value) override { return take("lines", int(lines = value)); }
    bool getWheelScrollLines(unsigned& value) override {
        if (works)
            value = lines;
        return works;
    }
    bool setWheelScrollChars(unsigned value) override { return take("chars", int(chars = value)); }
    bool getWheelScrollChars(unsigned& value) override {
        value = chars;
        return works;
    }
    bool setDoubleClickTime(unsigned value) override { return take("click", int(click = value)); }
    unsigned doubleClickTime() override { return click; }

    bool take(const char* name, int value) {
        calls.append(QStringLiteral("%1=%2").arg(name).arg(value));
        return works;
    }

    std::array<int, 3> mouse = {6, 10, 1};
    int speed = 10;
    unsigned lines = 3;
    unsigned chars = 3;
    unsigned click = 500;
    bool works = true;
    QStringList calls;
};

TEST(SystemMouseSettings, LevelsMapToTheSystemValues) {
    FakeMouseSettings system;
    SystemMouseSettings settings(&system);
    EXPECT_TRUE(settings.setAccelerationLevel(2));
    EXPECT_EQ(system.mouse, (std::array<int, 3>{4, 6, 2}));
    EXPECT_TRUE(settings.setSpeedLevel(9));
    EXPECT_TRUE(settings.setScrollLines(7));
    EXPECT_TRUE(settings.setScrollChars(2));
    EXPECT_TRUE(settings.setDoubleClickLevel(11));
    EXPECT_EQ(system.calls,
              (QStringList{"mouse=2", "speed=15", "lines=7", "chars=2", "click=200"}));
    // Levels without a row never reach the system.
    system.calls.clear();
    EXPECT_FALSE(settings.setAccelerationLevel(4));
    EXPECT_FALSE(settings.setAccelerationLevel(-1));
    EXPECT_FALSE(settings.setSpeedLevel(10));
    EXPECT_FALSE(settings.setDoubleClickLevel(12));
    EXPECT_FALSE(settings.setScrollLines(-3));
    EXPECT_TRUE(system.calls.isEmpty());
    // A system that refuses is reported.
    system.works = false;
    EXPECT_FALSE(settings.setSpeedLevel(1));
    EXPECT_FALSE(SystemMouseSettings(nullptr).setSpeedLevel(1));
}

TEST(SystemMouseSettings, ReportGivesLevelsOrMilliseconds) {
    FakeMouseSettings system;
    SystemMouseSettings settings(&system);
    system.mouse = {0, 0, 0};
    EXPECT_EQ(settings.report(),
              "defaultMouseAccel:0,defaultScrollLinesX:3,defaultMouseSpeed:5,"
              "defaultMouseDoubleClick:500,defaultScrollLinesY:3");
    system.mouse = {1, 10, 2};
    system.click = 550;
    system.speed = 15;
    system.lines = 9;
    EXPECT_EQ(settings.report(),
              "defaultMouseAccel:8,defaultScrollLinesX:3,defaultMouseSpeed:7,"
              "defaultMouseDoubleClick:4,defaultScrollLinesY:9");
    // Failed reads: no acceleration, no characters, and the defaults for speed and lines.
    system.works = false;
    EXPECT_EQ(settings.report(),
              "defaultMouseAccel:0,defaultScrollLinesX:0,defaultMouseSpeed:5,"
              "defaultMouseDoubleClick:4,defaultScrollLinesY:3");
}

class FakeHook : public platform::MouseHook {
  public:
    bool install(std::function<void(int, int)> onLeftButtonUp) override {
        ++installs;
        if (!works)
            return false;
        callback = std::move(onLeftButtonUp);
        return true;
    }
    void remove() override {
        ++removes;
        callback = nullptr;
    }
    std::function<void(int, int)> callback;
    bool works = true;
    int installs = 0;
    int removes = 0;
};

TEST(MouseTrackRecorder, RecordsReleasesAcrossRecordings) {
    FakeHook hook;
    MouseTrackRecorder recorder(&hook);
    ASSERT_TRUE(recorder.startTrack());
    hook.callback(10, 20);
    hook.callback(-5, 7);
    const QString first = recorder.stopTrack();
    EXPECT_EQ(MouseTrackRecorder::points(first), (RecordedPoints{{"10", "20"}, {"-5", "7"}}));
    EXPECT_TRUE(first.startsWith("x:10,y:20Time:"));
    EXPECT_FALSE(hook.callback);

    ASSERT_TRUE(recorder.startTrack());
    ASSERT_TRUE(recorder.startTrack());  // a running recording is ended first
    EXPECT_EQ(hook.removes, 2);
    hook.callback(1, 2);
    EXPECT_EQ(MouseTrackRecorder::points(recorder.stopTrack()).size(), 3);

    hook.works = false;
    EXPECT_FALSE(recorder.startTrack());
    EXPECT_FALSE(MouseTrackRecorder(nullptr).startTrack());
}

class FakeHotKeys : public platform::GlobalHotKeys {
  public:
    bool registerHotKey(std::uint32_t id, unsigned modifiers, int key) override {
        if (!works)
            return false;
        registered[id] = {modifiers, key};
        return true;
    }
    void unregisterHotKey(std::uint32_t id) override { registered.erase(id); }
    bool decodeActivation(const std::string& eventType, const void* message,
                          std::uint32_t& id) override {
        if (eventType != "fake")
            return false;
        id = *static_cast<const std::uint32_t*>(message);
        return true;
    }
    std::map<std::uint32_t, std::pair<unsigned, int>> registered;
    bool works = true;
};

bool deliver(std::uint32_t id) {
    long result = 0;
    return QCoreApplication::instance()->eventDispatcher() &&
           QAbstractEventDispatcher::instance()->filterNativeEvent("fake", &id, &result);
}

TEST(QxtGlobalShortcut, RegistersItsKeyAndReportsActivation) {
    FakeHotKeys hotKeys;
    QxtGlobalShortcut::setBackend(&hotKeys);
    {
        QxtGlobalShortcut shortcut;
        QxtGlobalShortcut other;
        int activations = 0;
        QObject::connect(&shortcut, &QxtGlobalShortcut::activated, [&] { ++activations; });
        ASSERT_TRUE(shortcut.setShortcut(QKeySequence("Ctrl+Alt+F5")));
        ASSERT_EQ(hotKeys.registered.size(), 1u);
        const auto [id, key] = *hotKeys.registered.begin();
        EXPECT_EQ(key.first, unsigned(platform::kHotKeyControl | platform::kHotKeyAlt));
        EXPECT_EQ(key.second, int(Qt::Key_F5));

        EXPECT_TRUE(deliver(id));
        EXPECT_EQ(activations, 1);
        EXPECT_FALSE(deliver(id + 100));  // nobody's
        shortcut.setEnabled(false);
        EXPECT_TRUE(deliver(id));
        EXPECT_EQ(activations, 1);

        // A new sequence replaces the old registration; an empty one removes it.
        shortcut.setEnabled(true);
        ASSERT_TRUE(shortcut.setShortcut(QKeySequence("Shift+Q")));
        EXPECT_EQ(hotKeys.registered.size(), 1u);
        EXPECT_TRUE(shortcut.setShortcut(QKeySequence()));
        EXPECT_TRUE(hotKeys.registered.empty());
        EXPECT_FALSE(deliver(id));

        hotKeys.works = false;
        EXPECT_FALSE(other.setShortcut(QKeySequence("Ctrl+1")));
        hotKeys.works = true;
        ASSERT_TRUE(other.setShortcut(QKeySequence("Ctrl+1")));
    }
    EXPECT_TRUE(hotKeys.registered.empty());  // shortcuts unregister when they go
    QxtGlobalShortcut::setBackend(nullptr);
}

}  // namespace
