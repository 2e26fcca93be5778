// A mouse left in its loader by a cut-off firmware write, found and written again with the
// kept image, on the simulated mouse through the device library.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "device/dc_library.h"
#include "platform/linux/shell_operations_linux.h"
#include "platform/sim/sim_state.h"
#include "tests/commands/qt_printers.h"
#include "update/firmware_recovery.h"
#include "update/firmware_updater.h"
#include "update/package.h"
#include "update/update_dlg.h"

namespace {

using Offer = update::LoaderWatch::Offer;

const QString kDeviceId = QStringLiteral("HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000");
QString statePath;

int dcsim(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), arguments);
    return process.waitForFinished(20000) ? process.exitCode() : -1;
}

dcsim::DeviceState simState() {
    return platform::readSimState(statePath.toStdString());
}

TEST(LoaderWatch, OffersOnceEachTimeTheLoaderShowsUpOutsideTheProgramsOwnWrites) {
    struct Look {
        bool present, kept, writing;
        Offer offer;
    };
    const std::vector<std::vector<Look>> cases = {
        // Found at start-up, seen again, pulled out, plugged in again.
        {{true, true, false, Offer::Rewrite},
         {true, true, false, Offer::None},
         {false, true, false, Offer::None},
         {true, true, false, Offer::Rewrite}},
        {{true, false, false, Offer::NoImage}, {true, false, false, Offer::None}},
        // The program's own write goes through the loader; one pulled out is news again.
        {{true, true, true, Offer::None}, {true, true, false, Offer::None}},
        {{true, true, true, Offer::None},
         {false, true, true, Offer::None},
         {true, true, false, Offer::Rewrite}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        update::LoaderWatch watch;
        for (std::size_t i = 0; i < cases[c].size(); ++i) {
            const Look& look = cases[c][i];
            EXPECT_EQ(watch.loaderSeen(look.present, look.kept, look.writing), look.offer)
                << "case " << c << ", look " << i;
        }
    }
}

class FirmwareRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QFile::remove(statePath);
        library = std::make_unique<DcLibrary>(QStringLiteral(VELMORA_APP_DIR));
        ASSERT_TRUE(library->isLoaded());
        environment.appFolder = app.path() + "/";
        environment.shell = &shell;
        environment.library = library.get();
        update::setEnvironment(environment);
        QDir().mkpath(app.filePath("tupdates/firmware/ready"));
    }
    void TearDown() override { library->unload(); }

    // Where an unpacked firmware package leaves its image.
    QString staged(const QByteArray& bytes) {
        QFile file(app.filePath("tupdates/firmware/ready/update.bin"));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return file.fileName();
    }

    // Updates the mouse with a 5000-byte image, pulling it out after the second of its three
    // blocks, and plugs it in again.
    void pullMidWriteAndReplug(const QString& imageFile) {
        ASSERT_EQ(dcsim({"pull-after-blocks", "2"}), 0);
        LibraryLoader loader(*library);
        QStringList statuses;
        FirmwareUpdater(
            loader, [](int) {}, [&](const QString& text) { statuses << text; })
            .updateFirmware(kDeviceId, imageFile);
        EXPECT_EQ(statuses, QStringList{"更新失败"});
        ASSERT_EQ(dcsim({"plug"}), 0);
    }

    QTemporaryDir app;
    platform::LinuxShellOperations shell;
    update::Environment environment;
    std::unique_ptr<DcLibrary> library;
    const QByteArray image = FirmwareUpdater::makeImageFile(QByteArray(5000, 'v'), 5000 * 'v');
};

TEST_F(FirmwareRecoveryTest, AWritePulledOutHalfWayComesBackAsTheLoaderOnly) {
    pullMidWriteAndReplug(staged(image));
    EXPECT_TRUE(library->deviceExist(FirmwareUpdater::bootloaderId));
    EXPECT_FALSE(library->deviceExist(kDeviceId));
}

TEST_F(FirmwareRecoveryTest, TheKeptImageOutlivesTheUpdateFolderAndOnlyAValidOneReplacesIt) {
    ASSERT_TRUE(update::keepFirmwareImage(environment.appFolder, staged(image)));
    update::clearUpdateFolder(environment, "firmware");
    QDir().mkpath(app.filePath("tupdates/firmware/ready"));
    EXPECT_FALSE(update::keepFirmwareImage(environment.appFolder, staged("not an image")));
    EXPECT_EQ(FirmwareUpdater::readImageFile(update::keptFirmwarePath(environment.appFolder)),
              image);
}

TEST_F(FirmwareRecoveryTest, TheKeptImageWrittenFromTheLoaderBringsTheMouseBackRunningIt) {
    ASSERT_TRUE(update::keepFirmwareImage(environment.appFolder, staged(image)));
    pullMidWriteAndReplug(staged(image));
    update::FirmwareRecovery recovery(nullptr);
    recovery.checkLoader();
    updateDlg* dialog = recovery.dialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->lb_text->text().trimmed(), "鼠标处于固件升级模式，是否重新写入固件？");
    QTest::mouseClick(dialog->uninstallButton, Qt::LeftButton);
    EXPECT_EQ(dialog->lb_install->text(), "校验成功,启动设备。。。");
    EXPECT_TRUE(library->deviceExist(kDeviceId));
    EXPECT_EQ(simState().firmwareSize, 5000u);
    EXPECT_EQ(simState().firmwareRevision, 1);
}

TEST_F(FirmwareRecoveryTest, WithoutAKeptImageTheUserIsToldAndNothingIsWritten) {
    ASSERT_EQ(dcsim({"loader"}), 0);
    const dcsim::DeviceState before = simState();
    update::FirmwareRecovery recovery(nullptr);
    recovery.checkLoader();
    ASSERT_TRUE(recovery.dialog());
    EXPECT_EQ(recovery.dialog()->stack->currentWidget(), recovery.dialog()->pageInfo);
    EXPECT_EQ(recovery.dialog()->lb_info->text().trimmed(),
              "未找到可用的固件，请连接网络后重新更新");
    EXPECT_EQ(simState().mode, dcsim::Mode::Loader);
    EXPECT_TRUE(simState().flash == before.flash);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir state;
    statePath = state.filePath(QStringLiteral("dcsim.state"));
    qputenv("VELMORA_SIM_STATE", statePath.toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
