// The update dialog driven as a user drives it: the page package and the firmware package are
// downloaded from nginx at the same time, the pages are installed and the simulated mouse's
// firmware is written through its loader.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/support/program_harness.h"
#include "tests/update/http_fixtures.h"
#include "update/firmware_recovery.h"
#include "update/firmware_updater.h"
#include "update/package.h"
#include "update/update_dlg.h"
#include "update/update_environment.h"

namespace {

NginxServer* server = nullptr;
QString logPath;

QString dcsimStatus() {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {"status"});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(UpdateDialog, DownloadsPagesAndFirmwareAtOnceAndInstallsBoth) {
    const QString appFolder = QCoreApplication::applicationDirPath() + "/";
    QDir(appFolder + "view/device/vm100").removeRecursively();
    QDir(appFolder + "tupdates").removeRecursively();
    QDir(appFolder + "firmware").removeRecursively();

    update::Package pages;
    pages.version = "2.0.1";
    pages.files = {{"pkg/vm100/seting.html", "<!DOCTYPE html><title>new settings</title>"},
                   {"pkg/vm100/js/page.js", "export const version = 2;"}};
    ASSERT_TRUE(server->putFile("packages/html.pkg", update::writePackage(pages, QByteArray())));
    QFile firmware(QStringLiteral(VELMORA_SIM_FIRMWARE_PACKAGE));
    ASSERT_TRUE(firmware.open(QIODevice::ReadOnly));
    ASSERT_TRUE(server->putFile("packages/firmware.pkg", firmware.readAll()));
    const QString before = dcsimStatus();
    // The texts checked below are the dialog's Chinese ones.
    update::Environment environment = update::environment();
    environment.language = [] { return QStringLiteral("zh"); };
    update::setEnvironment(environment);

    updateDlg dialog;
    dialog.setUpdateInfo({{"devicePackage", server->url("/packages/html.pkg")},
                          {"firmwarePackage", server->url("/packages/firmware.pkg")}},
                         {"html", "firmware"});
    int highest = 0;
    QObject::connect(dialog.pb_install, &QProgressBar::valueChanged,
                     [&](int value) { highest = qMax(highest, value); });
    // Closing while the firmware is written is refused: its warning stays.
    bool triedToClose = false;
    bool closedWhileWriting = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (triedToClose || !dialog.writingFirmware())
            return;
        triedToClose = true;
        dialog.reject();
        closedWhileWriting = !dialog.isVisible();
    });
    closer.start(5);
    dialog.show();
    QTest::mouseClick(dialog.uninstallButton, Qt::LeftButton);
    EXPECT_EQ(dialog.stack->currentWidget(), dialog.pageThird);

    ASSERT_TRUE(waitUntil(
        [&] { return dialog.lb_install->text() == QStringLiteral("校验成功,启动设备。。。"); },
        30000))
        << dialog.lb_install->text().toStdString() << engineLogText().toStdString();
    ASSERT_TRUE(waitUntil([&] { return dialog.result() == QDialog::Accepted; }, 10000));
    EXPECT_TRUE(triedToClose);
    EXPECT_FALSE(closedWhileWriting);
    EXPECT_EQ(highest, 100);
    EXPECT_EQ(server->requestsFor("/packages/html.pkg").size(), 1);
    EXPECT_EQ(server->requestsFor("/packages/firmware.pkg").size(), 1);

    // The pages replaced the device's folder, and the staging is gone.
    EXPECT_EQ(readAll(appFolder + "view/device/vm100/js/page.js"), "export const version = 2;")
        << engineLogText().toStdString();
    EXPECT_TRUE(readAll(appFolder + "view/device/vm100/seting.html").contains("new settings"));
    EXPECT_FALSE(QFileInfo::exists(appFolder + "tupdates/html/ready"));
    // The mouse runs the 6000-byte image of the package now.
    const QString after = dcsimStatus();
    EXPECT_TRUE(after.contains("6000 bytes")) << after.toStdString();
    EXPECT_NE(before, after);
    // Its image is kept for a mouse that a later write leaves in its loader.
    EXPECT_FALSE(FirmwareUpdater::readImageFile(update::keptFirmwarePath(appFolder)).isEmpty());
}

TEST(UpdateDialog, AFailedDownloadSaysSoInTheUsersLanguage) {
    const update::Environment kept = update::environment();
    struct Case {
        QString language;
        QString offer;
        QString failure;
    };
    for (const Case& c : {Case{"zh", "   发现新版本，是否更新？", "下载失败请检查网络是否异常"},
                          Case{"en", "   A new version is available. Update now?",
                               "The download failed. Please check the network connection."}}) {
        update::Environment environment = kept;
        environment.language = [language = c.language] { return language; };
        update::setEnvironment(environment);
        updateDlg dialog;
        EXPECT_EQ(dialog.lb_text->text(), c.offer);
        dialog.setUpdateInfo({{"devicePackage", server->url("/packages/none.pkg")}}, {"html"});
        dialog.show();
        QTest::mouseClick(dialog.uninstallButton, Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return dialog.lb_install->text() == c.failure; }))
            << dialog.lb_install->text().toStdString();
    }
    update::setEnvironment(kept);
}

}  // namespace

NginxServer& nginx() {
    return *server;
}

QString engineLogText() {
    return QString::fromUtf8(readAll(logPath));
}

int main(int argc, char** argv) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    logPath = state.path() + "/app.log";
    int result = 1;
    {
        ProgramHarness program(argc, argv, logPath);
        const QString appFolder = QCoreApplication::applicationDirPath() + "/";
        QFile::remove(appFolder + "libdc.so");
        QFile::copy(VELMORA_APP_DIR "/libdc.so", appFolder + "libdc.so");
        QDir().mkpath(appFolder + "tests-pages");
        QFile blank(appFolder + "tests-pages/blank.html");
        blank.open(QIODevice::WriteOnly);
        blank.write("<!DOCTYPE html><title>blank</title>");
        blank.close();
        if (!program.start(blank.fileName(), "update_dialog_test.html"))
            return 1;
        NginxServer nginxServer;
        const QString error = nginxServer.start();
        if (!error.isEmpty()) {
            std::fprintf(stderr, "nginx: %s\n", qPrintable(error));
            return 1;
        }
        server = &nginxServer;
        // As after a check against this server.
        update::Environment environment = update::environment();
        environment.updateServer = nginxServer.url("/");
        update::setEnvironment(environment);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        nginxServer.stop();
    }
    return result;
}
