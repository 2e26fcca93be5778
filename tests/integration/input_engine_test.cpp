// The input engine end to end: a page loads a virtual key map through the real engine, the
// simulated filter driver is fed strokes with dcsim, and the simulated virtual HID device's
// record shows what was played.

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/window.h"
#include "tests/commands/qt_printers.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

Window* window = nullptr;
QJsonObject lastReport;

QString dcsim(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void stroke(int state) {
    dcsim({"stroke", "mouse", "11", QString::number(state)});
}

struct Report {
    qint64 ms;
    QByteArray bytes;
    bool keyboard() const { return quint8(bytes[2]) == 0x07; }
    bool mouse() const { return quint8(bytes[2]) == 0x04; }
    int key() const { return quint8(bytes[5]); }
    bool empty() const {
        return keyboard() ? bytes[3] == 0 && bytes.mid(5, 6) == QByteArray(6, '\0')
                          : bytes.mid(3, 4) == QByteArray(4, '\0');
    }
};

QList<Report> reports() {
    QList<Report> list;
    for (const QString& line : dcsim({"reports"}).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(' ');
        if (parts.size() == 2 && parts[1].size() == 130)
            list.append({parts[0].toLongLong(), QByteArray::fromHex(parts[1].toLatin1())});
    }
    return list;
}

// Runs a page step and waits for its report.
QJsonObject step(const QString& script, const QString& name) {
    lastReport = QJsonObject();
    window->mainView()->evaluateJavaScript(script);
    ProgramHarness::waitFor([&] { return lastReport.value("step").toString() == name; }, 10000);
    return lastReport;
}

TEST(InputEngine, MappedButtonPlaysItsMacroUntilReleasedOthersPassOn) {
    const QString status = dcsim({"status"});
    const int at = status.indexOf("filter device 11: ");
    ASSERT_GE(at, 0) << status.toStdString();
    const QString deviceId = status.mid(at + 18).section('\n', 0, 0).trimmed();

    QDir().mkpath(QCoreApplication::applicationDirPath() + "/maps");
    QFile map(QCoreApplication::applicationDirPath() + "/maps/input_engine_test.xml");
    ASSERT_TRUE(map.open(QIODevice::WriteOnly | QIODevice::Truncate));
    map.write(R"x(<conf>
  <right scanCode="4" flag="10" playType="1" playCount="1"><step task="MACRO" value="按下(B)延迟(20)弹起(B)"/></right>
</conf>)x");
    map.close();
    const QJsonObject loaded =
        step(QString("loadMap('maps/input_engine_test.xml', %1)")
                 .arg(QString("'%1'").arg(QString(deviceId).replace("\\", "\\\\"))),
             "loadMap");
    ASSERT_EQ(loaded.value("answer").toString(), "S:setVDevice success!");

    dcsim({"reports", "--clear"});
    dcsim({"passed", "--clear"});
    stroke(4);  // right button down
    ProgramHarness::pump(300);
    stroke(8);   // and up
    stroke(64);  // button 4, not in the map
    stroke(128);
    ASSERT_TRUE(ProgramHarness::waitFor([] { return dcsim({"passed"}).count('\n') >= 2; }, 10000));
    ProgramHarness::pump(300);
    EXPECT_EQ(dcsim({"passed"}), "mouse 11 64\nmouse 11 128\n");

    const QList<Report> played = reports();
    int lastB = -1;
    int presses = 0;
    for (int i = 0; i < played.size(); ++i) {
        if (played[i].keyboard() && played[i].key() == 0x05) {
            lastB = i;
            ++presses;
        }
    }
    EXPECT_GE(presses, 3);  // repeated while held
    // The stop sends an empty keyboard and an empty mouse report, and B is not pressed again.
    bool emptyKeyboard = false;
    bool emptyMouse = false;
    for (int i = lastB + 1; i < played.size(); ++i) {
        emptyKeyboard |= played[i].keyboard() && played[i].empty();
        emptyMouse |= played[i].mouse() && played[i].empty();
    }
    EXPECT_TRUE(emptyKeyboard);
    EXPECT_TRUE(emptyMouse);
}

TEST(InputEngine, PlayedActionsKeepTheirDelay) {
    dcsim({"reports", "--clear"});
    step("play('按下(A)延迟(100)弹起(A)')", "play");
    ASSERT_TRUE(ProgramHarness::waitFor(
        [] {
            const QList<Report> list = reports();
            return list.size() >= 2 && list[1].keyboard();
        },
        10000));
    const QList<Report> played = reports();
    ASSERT_TRUE(played[0].keyboard());
    EXPECT_EQ(played[0].key(), 0x04);
    EXPECT_TRUE(played[1].empty());
    // 100 ms varied by up to 9, read from whole milliseconds.
    const qint64 gap = played[1].ms - played[0].ms;
    EXPECT_GE(gap, 90);
    EXPECT_LE(gap, 110);
}

TEST(InputEngine, MouseSettingsAreSetAndReadBack) {
    const QJsonObject result = step("mouseSettings()", "mouseSettings");
    EXPECT_EQ(result.value("speed").toString(), "S:modifyMouseSpeed success");
    const QString config = result.value("config").toString();
    EXPECT_TRUE(config.startsWith("S:reporVal:")) << config.toStdString();
    EXPECT_TRUE(config.contains(",defaultMouseSpeed:4,")) << config.toStdString();  // 9 / 2
}

bool copyInto(const QString& source, const QString& target) {
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    return QFile::copy(source, target);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    qunsetenv("DISPLAY");  // the simulated desktop, not a real one
    int result = 1;
    {
        ProgramHarness program(argc, argv, state.path() + "/app.log");
        const QString appFolder = QCoreApplication::applicationDirPath() + "/";
        copyInto(VELMORA_APP_DIR "/libdc.so", appFolder + "libdc.so");
        copyInto(VELMORA_APP_DIR "/Resources/define.xml", appFolder + "Resources/define.xml");
        window = program.start(
            QStringLiteral(VELMORA_SOURCE_DIR "/tests/integration/pages/input_engine_test.html"),
            QStringLiteral("input_engine_test.html"));
        if (!window)
            return 1;
        program.onReport([](const QJsonObject& report) { lastReport = report; });
        // The page is ready once its functions exist.
        ProgramHarness::pump(1500);
        ::testing::InitGoogleTest(&argc, argv);
        result = window->GetVirtualDeviceStatus() ? RUN_ALL_TESTS() : 2;
    }
    return result;
}
