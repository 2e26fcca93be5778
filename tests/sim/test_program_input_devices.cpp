// The program's input-device lists over the simulated device tree: scanned at start-up and
// again on the device events it acts on, so that the simulated filter driver's devices are
// found under the hardware ids it reports.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/sim/sim_state.h"
#include "tests/support/program_harness.h"

namespace {

ProgramHarness* program = nullptr;

bool dcsim(const QString& command) {
    return QProcess::execute(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {command}) == 0;
}

QString filterHardwareId(int device) {
    return QString::fromStdString(platform::simFilterHardwareId(device)).toUpper();
}

// The type of the listed device with this hardware id, or "" when none is listed.
QString listedType(const QString& hardwareId) {
    for (const InputDeviceRecord& record : program->app().inputDevices().devices) {
        if (record.hardwareId == hardwareId)
            return record.type;
    }
    return QString();
}

bool mouseListed() {
    return listedType(filterHardwareId(platform::kSimMouseDevice)) == "mouse";
}

TEST(ProgramInputDevices, StartUpListsTheFilterDevicesUnderTheirHardwareIds) {
    EXPECT_TRUE(mouseListed());
    EXPECT_EQ(listedType(filterHardwareId(platform::kSimKeyboardDevice)), "keyboard");
}

TEST(ProgramInputDevices, TheFirstAndEveryFifthDeviceEventRescan) {
    ASSERT_TRUE(mouseListed());
    ASSERT_TRUE(dcsim("unplug"));  // event 1
    EXPECT_TRUE(ProgramHarness::waitFor([] { return !mouseListed(); }, 10000));
    // Events 2 to 5 are not acted on: the list stays as event 1 left it.
    for (const char* step : {"plug", "unplug", "plug", "unplug"}) {
        ASSERT_TRUE(dcsim(step));
        ProgramHarness::pump(200);
    }
    ProgramHarness::pump(300);
    EXPECT_FALSE(mouseListed());
    ASSERT_TRUE(dcsim("plug"));  // event 6
    EXPECT_TRUE(ProgramHarness::waitFor(mouseListed, 10000));
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    int result = 1;
    {
        ProgramHarness harness(argc, argv, state.path() + "/app.log");
        program = &harness;
        const QString library = QCoreApplication::applicationDirPath() + "/libdc.so";
        QFile::remove(library);
        QFile::copy(VELMORA_APP_DIR "/libdc.so", library);
        if (!harness.start(QStringLiteral(VELMORA_SOURCE_DIR "/tests/sim/pages/blank.html"),
                           QStringLiteral("blank.html")))
            return 1;
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        program = nullptr;
    }
    return result;
}
