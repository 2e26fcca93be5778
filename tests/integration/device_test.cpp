// A page drives the simulated device through the real engine, the dispatcher and the
// device library the program loads at run time.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include "app/window.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

QJsonObject results;
QString changes;
bool changesReported = false;

bool copyInto(const QString& source, const QString& target) {
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    return QFile::copy(source, target);
}

bool dcsim(const QString& command) {
    return QProcess::execute(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {command}) == 0;
}

TEST(DeviceCommands, ThePageListsAndReadsTheDevice) {
    const QString list = results.value("list").toString();
    ASSERT_TRUE(list.startsWith("S:[{"));
    EXPECT_TRUE(list.contains("\"deviceId\":\"HID\\\\VID_04D9&PID_A0D2"));
    EXPECT_EQ(results.value("dpiBefore").toString(), "S:{\"DpiXVal\":\"800\",\"DpiYVal\":\"800\"}");
}

TEST(DeviceCommands, DpiAssignmentIsWrittenAsAScript) {
    EXPECT_EQ(results.value("writeDpi").toString(), "S:writeDevicesProp success!");
    EXPECT_EQ(results.value("dpiAfter").toString(),
              "S:{\"DpiXVal\":\"1000\",\"DpiYVal\":\"1200\"}");
}

TEST(DeviceCommands, MacroBodyGoesToAFreeSlotAndTheButtonPointsAtIt) {
    EXPECT_EQ(results.value("writeMacro").toString(), "S:writeDevicesProp success!");
    // 0x04, 0, slot 0, 13 items (12 body items and one).
    EXPECT_EQ(results.value("button").toString(), "S:0x04,0x00,0x00,0x0d");
    EXPECT_EQ(results.value("slot").toString(),
              "S:0x84,0x04,0x00,0x06,0x64,0x00,0x04,0x04,0x00,0x07,0x01,0x00");
}

TEST(DeviceCommands, AMacroWhoseButtonCannotBeWrittenGivesItsSlotBack) {
    EXPECT_EQ(results.value("failedMacro").toString(), "F0:writeDevicesProp failed!");
    // The body went to the next slot and was taken out again.
    EXPECT_EQ(results.value("emptyCheck").toString(), "S:true");
}

TEST(DeviceCommands, UnknownAssignmentTypeFails) {
    EXPECT_EQ(results.value("unknownType").toString(), "F0:writeDevicesProp failed!");
}

TEST(DeviceEvents, FirstAndEveryFifthEventReachThePage) {
    ASSERT_TRUE(changesReported);
    EXPECT_EQ(changes, "1,2");  // removal (event 1), arrival (event 6)
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    int result = 1;
    {
        ProgramHarness program(argc, argv, state.path() + "/app.log");
        const QString appFolder = QCoreApplication::applicationDirPath() + "/";
        copyInto(VELMORA_APP_DIR "/libdc.so", appFolder + "libdc.so");
        copyInto(VELMORA_APP_DIR "/Resources/mouse1.1.xml", appFolder + "Resources/mouse1.1.xml");
        Window* window = program.start(
            QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/device_test.html"),
            QStringLiteral("device_test.html"));
        if (!window)
            return 1;
        program.onReport([](const QJsonObject& report) {
            if (report.contains("changes")) {
                changes = report.value("changes").toString();
                changesReported = true;
            } else {
                results = report;
            }
        });
        const bool reported = ProgramHarness::waitFor([] { return !results.isEmpty(); }, 60000);

        // Six library events: the first and the sixth are acted on.
        for (const char* step : {"unplug", "plug", "unplug", "plug", "unplug", "plug"}) {
            dcsim(step);
            ProgramHarness::pump(150);
        }
        ProgramHarness::pump(500);
        window->mainView()->evaluateJavaScript("reportChanges()");
        ProgramHarness::waitFor([] { return changesReported; }, 10000);

        ::testing::InitGoogleTest(&argc, argv);
        result = reported ? RUN_ALL_TESTS() : 2;
    }
    return result;
}
