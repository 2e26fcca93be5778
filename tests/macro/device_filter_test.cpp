// The input filter's decisions and its loop over a fed filter driver.

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

#include "fake_input.h"
#include "macro/device_filter.h"
#include "tests/commands/qt_printers.h"

namespace {

const QString kMouseId = "HID\\VID_04D9&PID_A0D2&MI_00";
const QString kKeyboardId = "ACPI\\PNP0303";

class RecordingPlayback : public DEVICE_FILTER::Playback {
  public:
    void startFilterTask(const MacroTask& task, int keyState) override {
        std::lock_guard<std::mutex> lock(mutex);
        events.append(QStringLiteral("start %1/%2 %3")
                          .arg(task.playType)
                          .arg(keyState)
                          .arg(task.actions.value(0).value));
    }
    void stopPlayback() override {
        std::lock_guard<std::mutex> lock(mutex);
        events.append("stop");
    }
    QStringList take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(events, {});
    }
    std::mutex mutex;
    QStringList events;
};

const char* kMap = R"x(<conf>
  <right scanCode="4" flag="10" playType="1"><s task="MACRO" value="按下(A)"/></right>
  <middle scanCode="16" flag="10" playType="2" playCount="2"><s task="MACRO" value="按下(B)"/></middle>
  <b4 scanCode="64" flag="10" playType="0"><s task="KEYBROAD" value="C"/></b4>
  <left scanCode="1" flag="10" playType="0"><s task="MACRO" value="按下(A)"/></left>
  <e scanCode="18" flag="0" playType="0"><s task="MACRO" value="按下(E)"/></e>
  <ext scanCode="75" flag="1" playType="0"><s task="MACRO" value="按下(A)"/></ext>
</conf>)x";

class FilterTest : public ::testing::Test {
  protected:
    FilterTest() : filter_(&thread_, sources()) {}

    DEVICE_FILTER::Sources sources() {
        DEVICE_FILTER::Sources sources;
        sources.driver = &driver_;
        sources.playback = &playback_;
        sources.inputDevices = [] {
            InputDeviceLists lists;
            for (const QString& id : {kMouseId, kKeyboardId, QString("HID\\NDDVD_MOUSE")}) {
                InputDeviceRecord record;
                record.hardwareId = id.toUpper();
                lists.devices.append(record);
                lists.keys.append("04D9A0D2");
            }
            return lists;
        };
        sources.keyMapText = [](const QString& path) {
            return path == "maps/vm100.xml" ? QString::fromUtf8(kMap) : QString();
        };
        sources.hidCodeForKey = [](const QString& name) {
            return name.size() == 1 ? QString::number(name.at(0).unicode() - 'A' + 4, 16)
                                    : QString();
        };
        return sources;
    }
    void TearDown() override {
        filter_.stop();
        thread_.quit();
        thread_.wait();
    }

    bool mouse(quint16 state, const QString& id = kMouseId) {
        return filter_.handleStroke(11, fake::mouseStroke(state), id);
    }
    bool key(quint16 code, quint16 state, const QString& id = kKeyboardId) {
        return filter_.handleStroke(1, fake::keyStroke(code, state), id);
    }

    fake::FilterContext context_;
    fake::FilterDriver driver_{&context_};
    RecordingPlayback playback_;
    QThread thread_;
    DEVICE_FILTER filter_;
};

TEST_F(FilterTest, ButtonsOfTheMapStartStopAndReleaseTasks) {
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", kMouseId.toUpper()));
    // Play type 1: press starts, auto-repeat starts nothing, release stops.
    EXPECT_TRUE(mouse(4));
    EXPECT_TRUE(mouse(4));
    EXPECT_TRUE(mouse(8));
    EXPECT_EQ(playback_.take(), (QStringList{"start 1/0 4", "stop"}));
    // Play type 2: nothing on press, count times on release.
    EXPECT_TRUE(mouse(16));
    EXPECT_TRUE(mouse(32));
    EXPECT_EQ(playback_.take(), QStringList{"start 2/1 5"});
    // Play type 0: press plays, release plays the release half.
    EXPECT_TRUE(mouse(64));
    EXPECT_TRUE(mouse(128));
    EXPECT_EQ(playback_.take(), (QStringList{"start 0/0 6", "start 0/1 6"}));
    // A release without its press does nothing but is still the map's.
    EXPECT_TRUE(mouse(8));
    EXPECT_TRUE(playback_.take().isEmpty());
    // Buttons outside the map pass; the configured left button is consumed without action.
    EXPECT_FALSE(mouse(256));
    EXPECT_FALSE(mouse(512));
    EXPECT_TRUE(mouse(1));
    EXPECT_TRUE(mouse(2));
    EXPECT_TRUE(playback_.take().isEmpty());
}

TEST_F(FilterTest, KeysUseTheirExtendedFlag) {
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", kKeyboardId));
    EXPECT_TRUE(key(18, 0));
    EXPECT_TRUE(key(18, 0));  // auto-repeat
    EXPECT_TRUE(key(18, 1));
    // Playback ignores the release of a plain macro; the filter hands it on.
    EXPECT_EQ(playback_.take(), (QStringList{"start 0/0 8", "start 0/1 8"}));
    EXPECT_FALSE(key(75, 0));  // plain 75 is not the extended key
    EXPECT_TRUE(key(75, 2));
    EXPECT_FALSE(key(30, 0));
}

TEST_F(FilterTest, DevicesWithoutAMapOrHiddenOnesPassEverything) {
    EXPECT_FALSE(mouse(4));  // no map loaded
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", "HID\\NDDVD_MOUSE"));
    EXPECT_FALSE(mouse(4, "hid\\nddvd_mouse"));
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", kMouseId.toUpper()));
    EXPECT_TRUE(mouse(4, kMouseId.toLower()));         // the driver's id is upper-cased
    EXPECT_FALSE(mouse(4, "HID\\VID_1234&PID_5678"));  // not a scanned device
    EXPECT_TRUE(filter_.dropKeyMap(kMouseId.toUpper()));
    EXPECT_FALSE(filter_.dropKeyMap(kMouseId.toUpper()));
    EXPECT_FALSE(filter_.dropKeyMap(""));
    EXPECT_FALSE(mouse(8));
    // A map that cannot be read leaves the device without one; an empty path changes nothing.
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", kMouseId.toUpper()));
    EXPECT_TRUE(filter_.loadKeyMap("", kMouseId.toUpper()));
    EXPECT_TRUE(mouse(4));
    EXPECT_FALSE(filter_.loadKeyMap("maps/missing.xml", kMouseId.toUpper()));
    EXPECT_FALSE(mouse(4));
}

TEST_F(FilterTest, TheLoopConsumesMappedStrokesPassesOthersAndEndsOnStop) {
    ASSERT_TRUE(filter_.loadKeyMap("maps/vm100.xml", kMouseId.toUpper()));
    context_.setHardwareId(11, kMouseId.toStdU16String());
    context_.setHardwareId(12, u"HID\\VID_1111&PID_2222");
    thread_.start();
    context_.feed(11, fake::mouseStroke(4));
    context_.feed(12, fake::mouseStroke(4));
    context_.feed(11, fake::mouseStroke(256));
    context_.feed(11, fake::mouseStroke(8));
    ASSERT_TRUE(context_.waitHandled(4));
    QThread::msleep(20);
    const auto passed = context_.passedStrokes();
    ASSERT_EQ(passed.size(), 2);
    EXPECT_EQ(passed[0].device, 12);
    EXPECT_EQ(passed[1].device, 11);
    EXPECT_EQ(passed[1].stroke.mouse.state, 256);
    EXPECT_EQ(playback_.take(), (QStringList{"start 1/0 4", "stop"}));
    // The filter asked for the button events of the mice only.
    ASSERT_EQ(context_.filtered.size(), 10);
    EXPECT_EQ(context_.filtered.front(), std::make_pair(11, std::uint16_t(0x03FF)));

    // The loop ends although no stroke comes: the thread's event loop then takes the quit.
    filter_.stop();
    thread_.quit();
    EXPECT_TRUE(thread_.wait(3000));
}

TEST(FilterWithoutDriver, EndsAtOnce) {
    QThread thread;
    fake::FilterDriver driver(nullptr);
    DEVICE_FILTER::Sources sources;
    sources.driver = &driver;
    DEVICE_FILTER filter(&thread, sources);
    thread.start();
    QThread::msleep(50);
    EXPECT_EQ(driver.opens, 1);
    thread.quit();
    EXPECT_TRUE(thread.wait(3000));
}

}  // namespace
