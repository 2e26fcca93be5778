// The firmware sequence against a scripted loader, and against the simulated mouse's loader
// through the device library.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "device/dc_library.h"
#include "tests/commands/qt_printers.h"
#include "update/firmware_updater.h"

namespace {

const QString kDeviceId = QStringLiteral("HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000");

QByteArray imageOf(int size) {
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    return image;
}

quint32 sumOf(const QByteArray& image) {
    quint32 sum = 0;
    for (const char byte : image)
        sum += quint8(byte);
    return sum;
}

// A loader on a virtual clock: the time only advances through the updater's waits.
class ScriptedLoader : public FirmwareUpdater::Loader {
  public:
    struct Block {
        int length;
        int offset;
        QByteArray bytes;  // all 2048
    };

    bool deviceExist(const QString& id) override {
        if (id == FirmwareUpdater::bootloaderId)
            return resetAt >= 0 && now - resetAt >= loaderAfterMs &&
                   (pulledAfterBlocks < 0 || blocks.size() < pulledAfterBlocks);
        return id == kDeviceId && devicePresent;
    }
    bool canReboot() override { return true; }
    void reset(const QString&) override {
        calls << "reset";
        resetAt = now;
    }
    void eraseRom() override { calls << "erase"; }
    bool bornRom(const quint8* block, int length, int offset) override {
        blocks.append({length, offset, QByteArray(reinterpret_cast<const char*>(block), 2048)});
        return failFromBlock < 0 || blocks.size() <= failFromBlock;
    }
    bool checkRom(int size, quint32 check) override {
        calls << QStringLiteral("check %1 %2").arg(size).arg(check);
        return checkPasses;
    }
    void finishUpdateRom() override { calls << "finish"; }

    qint64 now = 0;
    qint64 resetAt = -1;
    int loaderAfterMs = 0;
    bool devicePresent = true;
    int failFromBlock = -1;      // this block (counted from 0) and later ones fail
    int pulledAfterBlocks = -1;  // the loader is gone once this many blocks were written
    bool checkPasses = true;
    QStringList calls;
    QList<Block> blocks;
};

class FirmwareTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString imageFile(const QByteArray& bytes) {
        const QString path = folder.filePath("update.bin");
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return path;
    }
    void run(const QString& path) {
        FirmwareUpdater updater(
            loader, [this](int ms) { loader.now += ms; },
            [this](const QString& text) { statuses << text; });
        updater.updateFirmware(kDeviceId, path);
    }

    QTemporaryDir folder;
    ScriptedLoader loader;
    QStringList statuses;
};

TEST_F(FirmwareTest, ImagesAreWrittenInBlocksOf2000WithATrailingShortOne) {
    const QByteArray image = imageOf(4000);
    run(imageFile(FirmwareUpdater::makeImageFile(image, sumOf(image))));
    ASSERT_EQ(loader.blocks.size(), 3);
    EXPECT_EQ(loader.blocks[0].length, 2000);
    EXPECT_EQ(loader.blocks[1].offset, 2000);
    EXPECT_EQ(loader.blocks[2].length, 0);
    EXPECT_EQ(loader.blocks[2].offset, 4000);
    EXPECT_EQ(loader.blocks[1].bytes.left(2000), image.mid(2000, 2000));
    EXPECT_EQ(loader.calls,
              (QStringList{"reset", "erase", QStringLiteral("check 4000 %1").arg(sumOf(image)),
                           "finish"}));
    EXPECT_EQ(statuses.last(), "校验成功,启动设备。。。");

    loader = ScriptedLoader();
    const QByteArray odd = imageOf(2500);
    run(imageFile(FirmwareUpdater::makeImageFile(odd, sumOf(odd))));
    ASSERT_EQ(loader.blocks.size(), 2);
    EXPECT_EQ(loader.blocks[1].length, 500);
    EXPECT_EQ(loader.blocks[1].offset, 2000);
    EXPECT_EQ(loader.blocks[1].bytes, odd.mid(2000) + QByteArray(1548, '\0'));
}

TEST_F(FirmwareTest, ALateLoaderIsFoundOnTheThirdWaitAndAMissingOneStopsBeforeErasing) {
    const QByteArray image = imageOf(100);
    const QString path = imageFile(FirmwareUpdater::makeImageFile(image, sumOf(image)));
    loader.loaderAfterMs = 10000;
    run(path);
    EXPECT_EQ(loader.calls.value(1), "erase");
    EXPECT_EQ(statuses.last(), "校验成功,启动设备。。。");

    loader = ScriptedLoader();
    loader.loaderAfterMs = 13001;
    statuses.clear();
    run(path);
    EXPECT_EQ(loader.calls, QStringList{"reset"});
    EXPECT_EQ(statuses, QStringList{"鼠标更新失败。。。"});
}

TEST_F(FirmwareTest, AWriteStopsAtTheFirstFailedBlockOrWhenTheLoaderGoes) {
    const QByteArray image = imageOf(5000);  // three blocks
    const QString path = imageFile(FirmwareUpdater::makeImageFile(image, sumOf(image)));
    struct Case {
        int failFromBlock;
        int pulledAfterBlocks;
        bool checkPasses;
        int blocksWritten;
        QStringList statuses;
    };
    const Case cases[] = {
        {1, -1, true, 2, {"更新失败"}},
        {-1, 1, true, 1, {"更新失败"}},
        {-1, -1, false, 3, {"更新成功", "校验失败，请重新更新"}},
    };
    for (const Case& c : cases) {
        loader = ScriptedLoader();
        loader.failFromBlock = c.failFromBlock;
        loader.pulledAfterBlocks = c.pulledAfterBlocks;
        loader.checkPasses = c.checkPasses;
        statuses.clear();
        run(path);
        EXPECT_EQ(loader.blocks.size(), c.blocksWritten) << c.statuses.join(',').toStdString();
        EXPECT_EQ(statuses, c.statuses);
        // The mouse is started only from a whole, checked image.
        EXPECT_FALSE(loader.calls.contains("finish"));
        EXPECT_EQ(loader.calls.filter("check").size(), c.checkPasses ? 0 : 1);
    }
}

TEST_F(FirmwareTest, BadImagesAndMissingDevicesNeverTouchTheDevice) {
    const QByteArray good = FirmwareUpdater::makeImageFile(imageOf(100), 0);
    QByteArray wrongChannel = good;
    wrongChannel[0] = 0x17;
    QByteArray nonZero = good;
    nonZero[4] = 1;
    QByteArray lyingSize = good;
    lyingSize[FirmwareUpdater::kSizeOffset + 2] = char(0x7F);  // far beyond the buffer
    const QByteArray tooLarge = good + QByteArray(2000, '\0');
    for (const QByteArray& bytes : {wrongChannel, nonZero, lyingSize, tooLarge, QByteArray()}) {
        loader = ScriptedLoader();
        statuses.clear();
        run(imageFile(bytes));
        EXPECT_TRUE(loader.calls.isEmpty());
        EXPECT_TRUE(loader.blocks.isEmpty());
        EXPECT_EQ(statuses, QStringList{"固件文件无效，固件未更新"});
    }
    loader = ScriptedLoader();
    statuses.clear();
    run(folder.filePath("missing.bin"));
    EXPECT_TRUE(loader.calls.isEmpty());

    loader = ScriptedLoader();
    loader.devicePresent = false;
    statuses.clear();
    run(imageFile(good));
    EXPECT_TRUE(loader.calls.isEmpty());
    EXPECT_EQ(statuses, QStringList{"未找到鼠标，固件未更新"});
    EXPECT_TRUE(FirmwareUpdater::makeImageFile(QByteArray(70000, 'x'), 0).isEmpty());
}

TEST_F(FirmwareTest, AnImageIsReadNoFurtherThanTheBufferWhateverTheFileClaims) {
    // A device file claims no size and never ends.
    if (!QFile::exists("/dev/zero"))
        GTEST_SKIP() << "no endless file here";
    FirmwareUpdater updater(
        loader, [](int) {}, [this](const QString& text) { statuses << text; });
    EXPECT_FALSE(updater.loadFirmwareImage("/dev/zero"));
    updater.updateFirmware(kDeviceId, "/dev/zero");
    EXPECT_TRUE(loader.calls.isEmpty());
    EXPECT_TRUE(loader.blocks.isEmpty());
    EXPECT_EQ(statuses, QStringList{"固件文件无效，固件未更新"});
}

QString dcsimStatus() {
    QProcess process;
    process.start(QStringLiteral(VELMORA_APP_DIR "/dcsim"), {"status"});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(FirmwareOnTheSimulatedMouse, TheLoaderTakesTheImageAndTheMouseRunsIt) {
    QTemporaryDir state;
    qputenv("VELMORA_SIM_STATE", (state.path() + "/sim.state").toUtf8());
    DcLibrary library(QStringLiteral(VELMORA_APP_DIR));
    ASSERT_TRUE(library.isLoaded());
    ASSERT_TRUE(library.deviceExist(kDeviceId));
    const QString before = dcsimStatus();

    const QByteArray image = imageOf(4500);
    QFile file(state.path() + "/update.bin");
    file.open(QIODevice::WriteOnly);
    file.write(FirmwareUpdater::makeImageFile(image, sumOf(image)));
    file.close();
    LibraryLoader loader(library);
    QStringList statuses;
    FirmwareUpdater updater(
        loader, [](int) {}, [&](const QString& text) { statuses << text; });
    updater.updateFirmware(kDeviceId, file.fileName());
    EXPECT_EQ(statuses, (QStringList{"更新成功", "校验成功,启动设备。。。"}));
    EXPECT_TRUE(library.deviceExist(kDeviceId));  // running the new firmware
    const QString after = dcsimStatus();
    EXPECT_TRUE(after.contains(
        QStringLiteral("4500 bytes, check 0x%1").arg(sumOf(image), 8, 16, QLatin1Char('0'))))
        << after.toStdString();
    EXPECT_NE(before, after);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
