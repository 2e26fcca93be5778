// The product's own pages in the real engine with the simulated mouse, driven as a user
// drives them: the main page follows plugging and unplugging, and the settings page writes
// what the user changes into the device and shows it again after a reload.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "app/system_tray.h"
#include "app/window.h"
#include "device/dc_library.h"
#include "platform/sim/input_files.h"
#include "platform/sim/mouse_settings.h"
#include "tests/commands/qt_printers.h"
#include "tests/support/program_harness.h"
#include "webhost/qcef_web_view.h"

namespace {

Window* window = nullptr;
QJsonValue lastValue;
bool answered = false;
int expected = 0;

QString dcsim(const QString& command) {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {command});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The value of a script expression in the page, or null when the page does not answer. Each
// question carries its number, so a late answer to an earlier one is never taken for it.
QJsonValue evaluate(const QString& expression) {
    static int asked = 0;
    const int question = ++asked;
    answered = false;
    lastValue = QJsonValue();
    expected = question;
    window->mainView()->evaluateJavaScript(
        QStringLiteral("(function(){var v; try { v = (%1); } catch (e) { v = 'error: ' + e; }"
                       "cefQuery({request: JSON.stringify({funcname: 'testReport', "
                       "results: JSON.stringify({question: %2, value: v})})});})()")
            .arg(expression)
            .arg(question));
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

void click(const QString& selector) {
    evaluate(QStringLiteral("document.querySelector(\"%1\").click(), 1").arg(selector));
}

QString pageText() {
    return evaluate("document.body.innerText").toString();
}

// Opens the settings page with a macro file that was cut short.
TEST(Pages, ADamagedMacroFileIsKeptAsideAndTheUserIsTold) {
    const QString profiles = QCoreApplication::applicationDirPath() + "/profiles/vm100";
    QDir().mkpath(profiles);
    QFile damaged(profiles + "/macros.xml");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("<macros><macro name=\"cut off");
    damaged.close();
    ASSERT_TRUE(pageShows("!!document.querySelector('#device-list .device-card .open-settings')"));
    click("#device-list .device-card .open-settings");
    ASSERT_TRUE(pageShows("!!document.getElementById('macro-new')", 15000));
    click("#tabs button[data-tab='macros']");
    EXPECT_TRUE(pageShows("document.body.innerText.includes('macros.xml.damaged-')"))
        << pageText().toStdString();
    const QStringList kept = QDir(profiles).entryList({"macros.xml.damaged-*"});
    ASSERT_EQ(kept.size(), 1);
    QFile copy(profiles + "/" + kept.first());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("<macros><macro name=\"cut off"));
    click("#tabs button[data-tab='performance']");
}

// The settings page is open from here on.
TEST(Pages, TheSettingsPageWritesWhatTheUserChangesAndShowsItAgain) {
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

TEST(Pages, ARecordedMacroGoesIntoADeviceSlotAndAProfileRestoresTheSettings) {
    ASSERT_TRUE(pageShows("!!document.getElementById('macro-new')", 15000));
    // Once the page has read the mouse's macro memory (the last of its reads).
    ASSERT_TRUE(pageShows("/\\b30\\b/.test(document.getElementById('slot-usage').textContent)"));
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
        << statusLine("macro slots in use").toStdString() << "\n"
        << pageText().toStdString();

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

// Chooses the `index`th entry of the tray submenu at `position`, filled as when the user opens it.
void chooseInTray(int position, int index) {
    QMenu* submenu = window->tray()->contextMenu()->actions().at(position)->menu();
    ASSERT_NE(submenu, nullptr);
    emit submenu->aboutToShow();
    ASSERT_LT(index, submenu->actions().size());
    submenu->actions().at(index)->trigger();
}

TEST(Pages, TheTrayMenuSetsTheDpiStageAndAppliesASavedProfile) {
    ASSERT_TRUE(pageShows("!!document.getElementById('dpi-active-0')", 15000));
    chooseInTray(2, 3);
    EXPECT_TRUE(
        ProgramHarness::waitFor([] { return statusLine("dpi level").startsWith("3 of"); }, 5000))
        << statusLine("dpi level").toStdString();
    EXPECT_TRUE(pageShows("document.getElementById('dpi-active-3').checked"));

    // The profile saved earlier, applied from the tray while the page shows other values.
    click("#tabs button[data-tab='performance']");
    change("dpi-x-2", "2400");
    ASSERT_TRUE(
        ProgramHarness::waitFor([] { return statusLine("dpi level").contains(" 2400 "); }, 5000));
    chooseInTray(3, 0);
    EXPECT_TRUE(
        ProgramHarness::waitFor([] { return !statusLine("dpi level").contains(" 2400 "); }, 10000))
        << statusLine("dpi level").toStdString();
    EXPECT_TRUE(pageShows("document.getElementById('status').textContent.includes('everyday')"));
}

TEST(Pages, LeavingAnUnsavedMacroAsksFirst) {
    click("#tabs button[data-tab='macros']");
    click("#macro-new");
    change("macro-name", "half done");
    evaluate("document.getElementById('macro-name').dispatchEvent(new Event('input')), 1");
    click("#tabs button[data-tab='performance']");
    ASSERT_TRUE(pageShows("document.getElementById('confirm-dialog').open"));
    click("#confirm-dialog .dialog-cancel");
    EXPECT_TRUE(
        pageShows("!document.getElementById('confirm-dialog').open && "
                  "document.getElementById('macro-name').value === 'half done' && "
                  "document.querySelector('#tabs button.active').dataset.tab === 'macros'"));
    click("#tabs button[data-tab='performance']");
    ASSERT_TRUE(pageShows("document.getElementById('confirm-dialog').open"));
    click("#confirm-dialog .dialog-ok");
    EXPECT_TRUE(
        pageShows("document.querySelector('#tabs button.active').dataset.tab === 'performance'"));
}

TEST(Pages, AMacroTooLongForTheMouseIsSavedForTheSoftware) {
    click("#tabs button[data-tab='macros']");
    click("#macro-new");
    change("macro-name", "long");
    change("add-key", "A");
    // 40 presses and releases take 240 bytes of a 200-byte slot.
    evaluate(
        "(() => { const type = document.getElementById('add-type'); for (let i = 0; i < 80; ++i) "
        "{ type.value = i % 2 ? 'up' : 'down'; type.dispatchEvent(new Event('change')); "
        "document.getElementById('add-action').click(); } return 1; })()");
    ASSERT_TRUE(
        pageShows("!document.getElementById('macro-meter-reason').hidden && "
                  "!document.getElementById('macro-save').disabled"));
    click("#macro-save");
    EXPECT_TRUE(pageShows("document.getElementById('macro-list').textContent.includes('long')"))
        << evaluate("document.getElementById('status').textContent").toString().toStdString();
}

// Answers the program's next file dialog as a user would: in `folder`, with the name the
// dialog proposes or `fileName`. The dialog runs its own event loop, so a timer does it.
void answerFileDialog(const QString& folder, const QString& fileName = QString()) {
    auto* timer = new QTimer;
    auto answered = std::make_shared<QPointer<QFileDialog>>();
    QObject::connect(timer, &QTimer::timeout, [timer, folder, fileName, answered] {
        const auto finish = [timer] {
            timer->stop();
            timer->deleteLater();
        };
        QWidget* modal = QApplication::activeModalWidget();
        // A message about the choice ends the answer: the test then fails on what it waits
        // for instead of hanging in the box's loop.
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ADD_FAILURE() << "the file dialog said: " << box->text().toStdString();
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QFileDialog*>(widget))
                    QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            }
            finish();
            return;
        }
        if (*answered) {
            if (!(*answered)->isVisible())
                finish();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog || !dialog->isVisible())
            return;
        dialog->setDirectory(folder);
        // Typed in, as a user would; the dialog reads its folder in the background, which a
        // selection made through the API may not wait for.
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"); edit && !fileName.isEmpty())
            edit->setText(QDir(folder).filePath(fileName));
        *answered = dialog;
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    timer->start(50);
}

TEST(Pages, ProfilesGoToAndComeFromAFolderOutsideTheProgramFolder) {
    QTemporaryDir elsewhere;
    click("#tabs button[data-tab='profiles']");
    const QString saved = statusLine("dpi level");
    answerFileDialog(elsewhere.path());
    click("#profile-export");
    // Saved under the name proposed: the model and the day.
    QStringList exported;
    ASSERT_TRUE(ProgramHarness::waitFor(
        [&] { return !(exported = QDir(elsewhere.path()).entryList({"*.pfd"})).isEmpty(); },
        10000));
    EXPECT_TRUE(exported.first().startsWith("VM100 20")) << exported.first().toStdString();
    QFile file(elsewhere.filePath(exported.first()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("<profile"));

    click("#tabs button[data-tab='performance']");
    change("dpi-x-2", "3000");
    ASSERT_TRUE(
        ProgramHarness::waitFor([] { return statusLine("dpi level").contains(" 3000 "); }, 5000));
    click("#tabs button[data-tab='profiles']");
    answerFileDialog(elsewhere.path(), exported.first());
    click("#profile-import");
    EXPECT_TRUE(ProgramHarness::waitFor([&] { return statusLine("dpi level") == saved; }, 10000))
        << statusLine("dpi level").toStdString() << " / " << saved.toStdString();
}

TEST(Pages, ALanguageSwitchShowsTheSystemsValuesAsTheyAreNow) {
    click("#tabs button[data-tab='system']");
    ASSERT_TRUE(pageShows("!document.getElementById('sys-speed').disabled"));
    // Changed behind the page's back: speed 14 is level 8.
    platform::SimMouseSettings system(
        platform::simInputFiles(qEnvironmentVariable("VELMORA_SIM_STATE").toStdString())
            .mouseSettings);
    ASSERT_TRUE(system.setMouseSpeed(14));
    change("language", "zh");
    EXPECT_TRUE(pageShows("document.getElementById('sys-speed').value === '8'"))
        << evaluate("document.getElementById('sys-speed').value").toString().toStdString();
}

TEST(Pages, NoChineseIsShownInEnglish) {
    change("language", "en");
    const QRegularExpression chinese("[\\x{3000}-\\x{303f}\\x{3400}-\\x{9fff}\\x{ff00}-\\x{ffef}]");
    for (const char* tab :
         {"performance", "buttons", "macros", "lighting", "device", "system", "profiles"}) {
        click(QString("#tabs button[data-tab='%1']").arg(tab));
        ProgramHarness::pump(300);
        // The language picker names each language in itself.
        const QString text =
            evaluate(
                "(function(){var c = document.body.cloneNode(true);"
                "c.querySelectorAll('#language').forEach(function(e){e.remove();});"
                "document.body.appendChild(c); c.hidden = false;"
                "var t = c.innerText; c.remove(); return t;})()")
                .toString();
        const QRegularExpressionMatch found = chinese.match(text);
        EXPECT_FALSE(found.hasMatch())
            << tab << ": ..."
            << text.mid(std::max(0, found.capturedStart() - 40), 80).toStdString();
    }
    change("language", "zh");
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
            if (report.value("question").toInt() != expected)
                return;
            lastValue = report.value("value");
            answered = true;
        });
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
