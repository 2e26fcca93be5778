// Its own program: the event counter is process-wide and must start from zero here.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "base/engine_log.h"
#include "device/devices_handler.h"
#include "platform/device_enumeration.h"
#include "tests/device/fake_library.h"

namespace {

const std::string kMouseClass = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";

class ListedDevices : public platform::DeviceEnumeration {
  public:
    bool presentDevices(std::vector<platform::PresentDevice>& out) override {
        out = devices;
        return true;
    }
    bool usbInterfacePaths(std::vector<std::string>& out) override {
        out = paths;
        return true;
    }
    std::vector<platform::PresentDevice> devices;
    std::vector<std::string> paths;
};

TEST(DeviceEvents, TheFirstAndThenEveryFifthEventIsActedOn) {
    QTemporaryDir folder;
    const QString logPath = folder.filePath("app.log");
    ASSERT_TRUE(engine::Log::open(logPath, engine::LogSeverity::Info));

    FakeDevice* fake = fakeDeviceIn(fakeFolder());
    ASSERT_NE(fake, nullptr);
    fake->clear();
    devices_handler handler(fakeFolder());
    int changes = 0;
    QObject::connect(&handler, &devices_handler::deviceChanged, [&changes] { ++changes; });
    QList<quint16> acted;
    devices_handler::setDeviceEventSink([&acted](quint16 code) { acted << code; });

    ASSERT_NE(fake->eventCallback, nullptr);
    const dc::DeviceEventCallback callback = *fake->eventCallback;
    for (quint16 code = 1; code <= 6; ++code)
        EXPECT_TRUE(callback(code));
    devices_handler::setDeviceEventSink(nullptr);
    QCoreApplication::processEvents();
    engine::Log::close();

    EXPECT_EQ(acted, (QList<quint16>{1, 6}));
    EXPECT_EQ(changes, 2);

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList counters;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const int at = line.indexOf("==================device event:");
        if (at >= 0)
            counters << QString::fromUtf8(line.mid(at + 31));
    }
    EXPECT_EQ(counters, (QStringList{"1", "2", "3", "4", "0", "1"}));
}

// Five events in a row hold exactly one that is acted on, wherever the counter stands.
void fiveEvents(FakeDevice* fake) {
    const dc::DeviceEventCallback callback = *fake->eventCallback;
    for (quint16 code = 1; code <= 5; ++code)
        EXPECT_TRUE(callback(code));
}

TEST(DeviceEvents, AnActedOnEventRescansTheApplicationsInputDevicesAfterThePush) {
    FakeDevice* fake = fakeDeviceIn(fakeFolder());
    ASSERT_NE(fake, nullptr);
    fake->clear();
    ListedDevices walk;
    walk.devices = {{"HID\\VID_04D9&PID_A0D2&MI_00\\7&1B7E4C2A&0&0000",
                     "HID\\VID_04D9&PID_A0D2&REV_0100&MI_00", kMouseClass}};
    walk.paths = {"\\\\?\\usb#vid_04d9&pid_a0d2#vm1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"};
    auto handler = std::make_unique<devices_handler>(fakeFolder());
    ASSERT_NE(fake->eventCallback, nullptr);
    handler->setDeviceEnumeration(&walk);

    QStringList order;
    QList<InputDeviceLists> stored;
    devices_handler::setDeviceEventSink([&order](quint16) { order << "push"; });
    devices_handler::setInputDeviceRescan(handler.get(), [&](const InputDeviceLists& lists) {
        order << "rescan";
        stored << lists;
    });

    fiveEvents(fake);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(order, (QStringList{"push", "rescan"}));
    EXPECT_EQ(stored[0].keys, QStringList{"04D9A0D2"});
    ASSERT_EQ(stored[0].devices.size(), 1);
    EXPECT_EQ(stored[0].devices[0].hardwareId, "HID\\VID_04D9&PID_A0D2&REV_0100&MI_00");

    // The mouse goes: the next acted-on event finds it gone.
    walk.devices.clear();
    walk.paths.clear();
    fiveEvents(fake);
    ASSERT_EQ(stored.size(), 2);
    EXPECT_TRUE(stored[1].devices.isEmpty());

    // A handler that goes away takes the rescan with it; the push goes on.
    handler.reset();
    fiveEvents(fake);
    EXPECT_EQ(stored.size(), 2);
    EXPECT_EQ(order.size(), 5);

    devices_handler other(fakeFolder());
    other.setDeviceEnumeration(&walk);
    devices_handler::setInputDeviceRescan(&other,
                                          [&](const InputDeviceLists& lists) { stored << lists; });
    devices_handler::setInputDeviceRescan(nullptr, nullptr);
    fiveEvents(fake);
    EXPECT_EQ(stored.size(), 2);
    devices_handler::setDeviceEventSink(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
