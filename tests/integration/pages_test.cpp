// The product's own pages in the real engine with the simulated mouse, driven as a user
// drives them: the main page follows plugging and unplugging, and the settings page writes
// what the user changes into the device and shows it again after a reload.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/window.h"
#include "device/dc_library.h"
#include "tests/commands/qt_printers.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

Window* window = nullptr;
QJsonValue lastValue;
bool answered = false;

QString dcsim(const QString& command) {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {command});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The value of a script expression in the page, or null when the page does not answer.
QJsonValue evaluate(const QString& expression) {
    answered = false;
    lastValue = QJsonValue();
    window->mainView()->evaluateJavaScript(
        QStringLiteral("(function(){var v; try { v = (%1); } catch (e) { v = 'error: ' + e; }"
                       "cefQuery({request: JSON.stringify({funcname: 'testReport', "
                       "results: JSON.stringify({value: v})})});})()")
            .arg(expression));
    ProgramHarness::waitFor([] { return answered; }, 3000);
    return lastValue;
}

bool pageShows(const QString& expression, int timeoutMs = 10000) {
    return ProgramHarness::waitFor([&] { return evaluate(expression).toBool(); }, timeoutMs);
}

QString statusLine(const QString& name) {
    for (const QString& line : dcsim("status").split('\n')) {
        if (line.startsWith(name + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return QString();
}

TEST(Pages, TheMainPageFollowsPluggingAndUnplugging) {
    dcsim("unplug");
    ASSERT_TRUE(pageShows("!document.getElementById('no-device').hidden"));
    dcsim("plug");
    // Within two seconds of the change, with a little room for a busy machine.
    ASSERT_TRUE(
        pageShows("document.getElementById('no-device').hidden && "
                  "!!document.querySelector('#device-list .device-card .open-settings')",
                  4000));
    EXPECT_TRUE(evaluate("document.getElementById('device-list').textContent")
                    .toString()
                    .contains("Quillmere VM100"));
    dcsim("unplug");
    EXPECT_TRUE(pageShows("!document.getElementById('no-device').hidden", 4000));
    dcsim("plug");
    ASSERT_TRUE(pageShows("!!document.querySelector('#device-list .device-card .open-settings')"));
}

void change(const QString& id, const QString& value) {
    evaluate(QStringLiteral("(function(){var e = document.getElementById('%1'); e.value = '%2';"
                            "e.dispatchEvent(new Event('change', {bubbles: true})); return 1;})()")
                 .arg(id, value));
}

TEST(Pages, TheSettingsPageWritesWhatTheUserChangesAndShowsItAgain) {
    ASSERT_TRUE(pageShows("!!document.querySelector('#device-list .device-card .open-settings')"));
    evaluate("document.querySelector('#device-list .device-card .open-settings').click(), 1");
    ASSERT_TRUE(
        pageShows("!!document.getElementById('dpi-x-1') && "
                  "document.getElementById('dpi-x-1').value === '800'",
                  15000));

    // The second DPI stage and the report rate.
    change("dpi-x-1", "1200");
    change("dpi-y-1", "1200");
    EXPECT_TRUE(ProgramHarness::waitFor(
        [] { return statusLine("dpi level").contains("400 1200 1600"); }, 5000))
        << statusLine("dpi level").toStdString();
    evaluate("document.querySelector('#rate-options button[data-hz=\"500\"]').click(), 1");
    EXPECT_TRUE(ProgramHarness::waitFor([] { return statusLine("report rate") == "2"; }, 5000))
        << statusLine("report rate").toStdString();

    // A button assignment: button 3 becomes "DPI up".
    evaluate("document.getElementById('button-3').click(), 1");
    change("assign-kind", "dpi");
    evaluate("document.getElementById('button-editor').requestSubmit(), 1");
    DcLibrary library(QStringLiteral(VELMORA_APP_DIR));
    const QString deviceId = statusLine("device id");
    quint8 button[4] = {};
    EXPECT_TRUE(ProgramHarness::waitFor(
        [&] { return library.readProp(deviceId, button, 4, 3) && button[0] == 0x03; }, 5000))
        << int(button[0]) << "," << int(button[1]);

    // The page reads everything from the device again when it opens.
    evaluate("location.reload(), 1");
    ProgramHarness::pump(500);
    EXPECT_TRUE(
        pageShows("!!document.getElementById('dpi-x-1') && "
                  "document.getElementById('dpi-x-1').value === '1200'",
                  15000));
    EXPECT_TRUE(
        pageShows("document.querySelector('#rate-options button.selected') && "
                  "document.querySelector('#rate-options button.selected').dataset.hz "
                  "=== '500'"));
}

void click(const QString& selector) {
    evaluate(QStringLiteral("document.querySelector(\"%1\").click(), 1").arg(selector));
}

TEST(Pages, ARecordedMacroGoesIntoADeviceSlotAndAProfileRestoresTheSettings) {
    ASSERT_TRUE(pageShows("!!document.getElementById('macro-new')", 15000));
    // A macro made in the editor, saved, and assigned to button 4 as a device macro.
    click("#tabs button[data-tab='macros']");
    click("#macro-new");
    change("macro-name", "press A");
    change("add-type", "down");
    change("add-key", "A");
    click("#add-action");
    change("add-type", "up");
    click("#add-action");
    click("#macro-save");
    ASSERT_TRUE(pageShows("document.getElementById('macro-list').textContent.includes('press A')"));
    change("macro-assign-button", "4");
    change("macro-assign-mode", "macro");
    click("#macro-assign");
    EXPECT_TRUE(ProgramHarness::waitFor(
        [] { return statusLine("macro slots in use").startsWith("1 of"); }, 8000))
        << statusLine("macro slots in use").toStdString();

    // A profile keeps the DPI stages: saved, changed, loaded again.
    click("#tabs button[data-tab='profiles']");
    change("profile-name", "everyday");
    evaluate("document.getElementById('profile-new').requestSubmit(), 1");
    ASSERT_TRUE(pageShows("!!document.querySelector('#profile-rows tr button.primary')"));
    const QString saved = statusLine("dpi level");
    click("#tabs button[data-tab='performance']");
    change("dpi-x-2", "2000");
    ASSERT_TRUE(
        ProgramHarness::waitFor([] { return statusLine("dpi level").contains(" 2000 "); }, 5000));
    click("#tabs button[data-tab='profiles']");
    click("#profile-rows tr button.primary");
    EXPECT_TRUE(ProgramHarness::waitFor([&] { return statusLine("dpi level") == saved; }, 10000))
        << statusLine("dpi level").toStdString() << " / " << saved.toStdString();
}

bool copyTree(const QString& from, const QString& to) {
    QDir source(from);
    QDir().mkpath(to);
    for (const QFileInfo& entry :
         source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + "/" + entry.fileName();
        if (entry.isDir()) {
            if (!copyTree(entry.filePath(), target))
                return false;
        } else {
            QFile::remove(target);
            if (!QFile::copy(entry.filePath(), target))
                return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    qunsetenv("DISPLAY");
    int result = 1;
    {
        ProgramHarness program(argc, argv, state.path() + "/app.log");
        // The application folder of this test: the build's pages, data and library.
        const QString appFolder = QCoreApplication::applicationDirPath();
        for (const char* folder : {"template", "view", "Resources"}) {
            if (!copyTree(QStringLiteral(VELMORA_APP_DIR "/") + folder, appFolder + "/" + folder))
                return 1;
        }
        QDir(appFolder + "/profiles").removeRecursively();
        QFile::remove(appFolder + "/libdc.so");
        QFile::copy(VELMORA_APP_DIR "/libdc.so", appFolder + "/libdc.so");
        window = program.start(QStringLiteral(VELMORA_APP_DIR "/template/default/index.html"),
                               QStringLiteral("index.html"),
                               QStringLiteral("<conf deviceId=\"04D9A0D2\"><productInfo "
                                              "device=\"vm100\" name=\"Quillmere VM100\"/>"
                                              "</conf>"));
        if (!window)
            return 1;
        window->resize(1100, 760);
        window->show();
        program.onReport([](const QJsonObject& report) {
            lastValue = report.value("value");
            answered = true;
        });
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
