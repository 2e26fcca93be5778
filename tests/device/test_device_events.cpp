// Its own program: the event counter is process-wide and must start from zero here.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "device/devices_handler.h"
#include "tests/device/fake_library.h"
#include "webhost/engine/engine_log.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
