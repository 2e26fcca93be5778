// The simulated device library through the binding, as the program loads it, with the dcsim
// tool driving it from outside.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/dc_library.h"

namespace {

const QString kAppDir = QStringLiteral(VELMORA_APP_DIR);
// The library under test; the program's own unless a sanitizer build of it is tested.
const QString kLibraryDir = QStringLiteral(SIM_LIBRARY_DIR);
const QString kDeviceId = QStringLiteral("HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000");
const QString kLoaderId = QStringLiteral("HID\\Vid_04d9&Pid_b0d2");
constexpr dc::WideChar kEmpty[] = u"";
QString statePath;

using Bytes = std::vector<std::uint8_t>;

// What the library's thread delivered.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint16_t> events;
    std::vector<QString> reports;

    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
        reports.clear();
    }
    template <typename Predicate>
    bool waitFor(Predicate predicate) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), predicate);
    }
} received;

bool onEvent(std::uint16_t code) {
    std::lock_guard<std::mutex> lock(received.mutex);
    received.events.push_back(code);
    received.changed.notify_all();
    return true;
}

bool onData(const std::uint8_t** data, void*) {
    std::lock_guard<std::mutex> lock(received.mutex);
    received.reports.push_back(
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(*data), 8).toHex()));
    received.changed.notify_all();
    return true;
}

dc::DeviceEventCallback eventSlot = &onEvent;
dc::DeviceDataCallback dataSlot = &onData;

int dcsim(const QStringList& arguments, QString* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kAppDir + QStringLiteral("/dcsim"), arguments);
    if (!process.waitForFinished(20000))
        return -1;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitCode();
}

bool libraryMapped() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(QDir(kLibraryDir).filePath("libdc.so").toUtf8());
}

dc::UsageFilter vendorFilter() {
    dc::UsageFilter filter{};
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    return filter;
}

class SimLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* suffix : {"", ".bad", ".lock", ".tmp"})
            QFile::remove(statePath + suffix);
        received.clear();
        load();
    }
    void TearDown() override { library->unload(); }

    void load() {
        library = std::make_unique<DcLibrary>(kLibraryDir);
        ASSERT_TRUE(library->isLoaded()) << library->errorString().toStdString();
        e = library->entryPoints();
    }
    dc::DeviceListBlock list() {
        dc::DeviceListBlock block;
        std::memset(&block, 0, sizeof block);
        library->devices(vendorFilter(), &block);
        return block;
    }
    Bytes readProp(int id, int size) {
        Bytes bytes(size);
        return library->readProp(kDeviceId, bytes.data(), size, id) ? bytes : Bytes();
    }

    std::unique_ptr<DcLibrary> library;
    DcEntryPoints e;
};

// The entry's wide fields are not aligned for char16_t; they are copied out bytewise.
QString wideField(const void* field) {
    dc::WideChar text[255];
    std::memcpy(text, field, sizeof text);
    return QString::fromUtf16(text, int(std::find(text, std::end(text), 0) - text));
}

TEST_F(SimLibrary, ListsOneMouseForTheVendorUsagePages) {
    const dc::DeviceListBlock block = list();
    // Packed fields are compared as copies: no reference may bind to them.
    ASSERT_EQ(int(block.count), 1);
    const dc::DeviceEntry& entry = block.entries[0];
    EXPECT_STREQ(entry.name, "Quillmere VM100 Gaming Mouse");
    EXPECT_STREQ(entry.version, "V1.00");
    EXPECT_STREQ(entry.sn, "VM1A0D2000417");
    EXPECT_EQ(std::uint32_t(entry.vendorId), 0x04D9u);
    EXPECT_EQ(std::uint32_t(entry.productId), 0xA0D2u);
    EXPECT_EQ(wideField(entry.deviceId), kDeviceId);
    EXPECT_EQ(wideField(entry.devicePath),
              QString::fromUtf16(u"\\\\?\\hid#vid_04d9&pid_a0d2&mi_01#7&2a4c1f3e&0&0000#"
                                 u"{4d1e55b2-f16f-11cf-88cb-001111000030}"));
    EXPECT_TRUE(library->deviceExist(kDeviceId));

    dc::DeviceListBlock other;
    std::memset(&other, 0x55, sizeof other);
    dc::UsageFilter filter{};
    filter.pairs[0] = {1, 0xFF00};
    library->devices(filter, &other);
    EXPECT_EQ(int(other.count), 0);
}

TEST_F(SimLibrary, FactorySettings) {
    EXPECT_EQ(readProp(40, 1), Bytes{1});
    EXPECT_EQ(readProp(48, 1), Bytes{1});
    EXPECT_EQ(readProp(51, 8), (Bytes{1, 16, 0, 16, 0, 0, 0, 0}));
    EXPECT_EQ(readProp(42, 10), (Bytes{1, 100, 3, 0x00, 0x80, 0xFF, 0, 1, 0, 0}));
    EXPECT_EQ(readProp(1, 4), (Bytes{1, 1, 0, 0}));
    EXPECT_EQ(readProp(16, 16), Bytes(16, 0));
    Bytes slot(200, 0xAA);
    EXPECT_TRUE(library->read(kDeviceId, slot.data(), 200, 0x2D00));
    EXPECT_EQ(slot, Bytes(200, 0));
}

TEST_F(SimLibrary, BadArgumentsFailAndLeaveTheBuffer) {
    Bytes buffer(2100, 0xAA);
    const dc::WideChar* id = reinterpret_cast<const dc::WideChar*>(kDeviceId.utf16());
    const dc::WideChar* loader = reinterpret_cast<const dc::WideChar*>(kLoaderId.utf16());
    std::uint8_t* b = buffer.data();
    EXPECT_NE(e.dcRead(nullptr, kEmpty, 4118, b, 1, 0), 0);
    EXPECT_NE(e.dcRead(id, nullptr, 4118, b, 1, 0), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, nullptr, 1, 0), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4119, b, 1, 0), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, b, -1, 0), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, b, 2049, 0), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, b, 1, -1), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, b, 2, 0x3FFF), 0);
    EXPECT_NE(e.dcRead(id, kEmpty, 4118, b, 1, 0x7FFFFFFF), 0);
    EXPECT_NE(e.dcRead(loader, kEmpty, 4118, b, 1, 0), 0);
    EXPECT_NE(e.dcRead(u"HID\\VID_04D9&PID_A0D2", kEmpty, 4118, b, 1, 0), 0);
    EXPECT_NE(e.dcReadProp(id, kEmpty, 4118, b, 1, 41), 0);
    EXPECT_NE(e.dcReadProp(id, kEmpty, 4118, b, 2, 40), 0);
    EXPECT_NE(e.dcReadProp(id, kEmpty, 4118, b, 1, -40), 0);
    EXPECT_NE(e.dcReadProp(id, kEmpty, 4118, b, 11, 42), 0);
    EXPECT_EQ(buffer, Bytes(2100, 0xAA));

    EXPECT_NE(e.dcWrite(id, kEmpty, 4118, b, 2, 0x3FFF), 0);
    EXPECT_NE(e.dcWrite(id, kEmpty, 4118, b, 2049, 0), 0);
    EXPECT_NE(e.dcWriteProp(id, kEmpty, 4118, b, 2, 48), 0);
    EXPECT_NE(e.dcWriteProp(id, kEmpty, 4118, nullptr, 1, 48), 0);
    EXPECT_NE(e.dcWriteProp(id, kEmpty, 0, b, 1, 48), 0);
    EXPECT_EQ(readProp(48, 1), Bytes{1});
    Bytes last(1, 0x55);
    EXPECT_TRUE(library->read(kDeviceId, last.data(), 1, 0x3FFF));
    EXPECT_EQ(last, Bytes{0});

    EXPECT_NE(e.dcDeviceExist(nullptr), 0);
    EXPECT_NE(e.dcDeviceExist(u"HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000X"), 0);
    EXPECT_NE(e.dcDeviceExist(u"HID\\VID_04D9&PID_A0D2&MI_01"), 0);
    EXPECT_NE(e.dcDeviceExist(loader), 0);
    EXPECT_NE(e.dcDevices(vendorFilter(), nullptr, sizeof(dc::DeviceListBlock)), 0);
    dc::DeviceListBlock block;
    EXPECT_NE(e.dcDevices(vendorFilter(), &block, 100), 0);
    EXPECT_NE(e.dcOnDeviceEvent(nullptr), 0);
    EXPECT_NE(e.dconDeviceData(id, kEmpty, 4118, nullptr), 0);
    EXPECT_NE(e.dconDeviceData(loader, kEmpty, 4118, &dataSlot), 0);
    EXPECT_NE(e.dcReset(id, kEmpty, 4118, 1, nullptr, 0), 0);
    std::uint8_t status = 0xAA;
    EXPECT_NE(e.dcReset(id, kEmpty, 4118, 7, &status, 0), 0);
    EXPECT_EQ(status, 0xAA);
    EXPECT_NE(e.dcEraseRom(id, kEmpty, 4118), 0);
    EXPECT_NE(e.dcBornRom(loader, kEmpty, 4118, b, 10, 0), 0);
    EXPECT_NE(e.dcCheckRom(loader, kEmpty, 4118, 10, 0), 0);
    EXPECT_NE(e.dcFinishUpdateRom(loader, kEmpty, 4118), 0);
    EXPECT_TRUE(library->deviceExist(kDeviceId));
}

TEST_F(SimLibrary, UnpluggedDeviceAnswersNothing) {
    ASSERT_EQ(dcsim({"unplug"}), 0);
    EXPECT_FALSE(library->deviceExist(kDeviceId));
    EXPECT_EQ(int(list().count), 0);
    Bytes buffer(1, 0xAA);
    EXPECT_FALSE(library->readProp(kDeviceId, buffer.data(), 1, 40));
    EXPECT_FALSE(library->write(kDeviceId, buffer.data(), 1, 0));
    EXPECT_FALSE(library->ask(kDeviceId));
    EXPECT_EQ(buffer, Bytes{0xAA});
    ASSERT_EQ(dcsim({"plug"}), 0);
    EXPECT_TRUE(library->deviceExist(kDeviceId));
}

TEST_F(SimLibrary, SettingsSurviveUnloadingTheLibrary) {
    const Bytes rate{4};
    ASSERT_TRUE(library->writeProp(kDeviceId, rate.data(), 1, 40));
    Bytes macro(200);
    for (int i = 0; i < 200; ++i)
        macro[i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_TRUE(library->write(kDeviceId, macro.data(), 200, 0x1300));

    library->unload();
    EXPECT_FALSE(libraryMapped());
    QString status;
    ASSERT_EQ(dcsim({"status"}, &status), 0);
    EXPECT_TRUE(status.contains("report rate: 4")) << status.toStdString();
    EXPECT_TRUE(status.contains("macro slots in use: 1 of 30")) << status.toStdString();

    load();
    EXPECT_EQ(readProp(40, 1), rate);
    Bytes back(200);
    ASSERT_TRUE(library->read(kDeviceId, back.data(), 200, 0x1300));
    EXPECT_EQ(back, macro);
}

TEST_F(SimLibrary, DamagedStateIsKeptAsideAndTheDeviceStartsFresh) {
    library->unload();
    {
        QFile file(statePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("velmora-dcsim-state 1\nprop 40 zz\n");
    }
    load();
    EXPECT_EQ(readProp(40, 1), Bytes{1});
    QFile bad(statePath + ".bad");
    ASSERT_TRUE(bad.open(QIODevice::ReadOnly));
    EXPECT_EQ(bad.readAll(), "velmora-dcsim-state 1\nprop 40 zz\n");
}

TEST_F(SimLibrary, UnloadingStopsTheCallbackThread) {
    const auto threads = [] {
        return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    };
    // Runtimes such as the thread sanitizer start a helper with the first thread.
    std::thread([] {}).join();
    const int before = threads();
    ASSERT_TRUE(library->onDeviceEvent(&eventSlot));
    EXPECT_EQ(threads(), before + 1);
    library->unload();
    EXPECT_FALSE(libraryMapped());
    EXPECT_EQ(threads(), before);
}

TEST_F(SimLibrary, FirmwareUpdateThroughTheLoader) {
    ASSERT_TRUE(library->onDeviceEvent(&eventSlot));
    Bytes image(2500);
    std::uint32_t check = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        check += image[i];
    }
    std::uint8_t status = 0xAA;
    ASSERT_TRUE(library->reset(kDeviceId, 1, &status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(received.waitFor([] { return received.events.size() >= 2; }));
    EXPECT_EQ(received.events, (std::vector<std::uint16_t>{1, 2}));
    EXPECT_FALSE(library->deviceExist(kDeviceId));
    EXPECT_TRUE(library->deviceExist(kLoaderId));
    const dc::DeviceListBlock block = list();
    ASSERT_EQ(int(block.count), 1);
    EXPECT_EQ(std::uint32_t(block.entries[0].productId), 0xB0D2u);
    EXPECT_EQ(wideField(block.entries[0].deviceId), kLoaderId);
    EXPECT_TRUE(readProp(40, 1).empty());

    // The old firmware is still in the flash until it is erased.
    EXPECT_FALSE(library->bornRom(kLoaderId, image.data(), 2000, 0));
    ASSERT_TRUE(library->eraseRom(kLoaderId));
    std::uint8_t chunk[2048] = {};
    std::memcpy(chunk, image.data(), 2000);
    EXPECT_TRUE(library->bornRom(kLoaderId, chunk, 2000, 0));
    std::memset(chunk, 0, sizeof chunk);
    std::memcpy(chunk, image.data() + 2000, 500);
    EXPECT_TRUE(library->bornRom(kLoaderId, chunk, 500, 2000));
    EXPECT_TRUE(library->bornRom(kLoaderId, chunk, 0, 4000));
    EXPECT_FALSE(library->bornRom(kLoaderId, chunk, 2049, 0));
    EXPECT_FALSE(library->checkRom(kLoaderId, 2500, check + 1));
    EXPECT_FALSE(library->finishUpdateRom(kLoaderId));
    EXPECT_TRUE(library->deviceExist(kLoaderId));
    EXPECT_TRUE(library->checkRom(kLoaderId, 2500, check));
    EXPECT_TRUE(library->finishUpdateRom(kLoaderId));
    ASSERT_TRUE(received.waitFor([] { return received.events.size() >= 4; }));
    EXPECT_EQ(received.events, (std::vector<std::uint16_t>{1, 2, 1, 2}));
    EXPECT_TRUE(library->deviceExist(kDeviceId));
    EXPECT_STREQ(list().entries[0].version, "V1.01");

    QString output;
    ASSERT_EQ(dcsim({"status"}, &output), 0);
    EXPECT_TRUE(output.contains("mode: normal")) << output.toStdString();
    EXPECT_TRUE(output.contains(
        QString("firmware: V1.01, 2500 bytes, check 0x%1").arg(check, 8, 16, QLatin1Char('0'))))
        << output.toStdString();
}

TEST_F(SimLibrary, DcsimPlugsUnplugsAndReportsThroughTheCallbacks) {
    ASSERT_TRUE(library->onDeviceEvent(&eventSlot));
    const QString path = QString::fromUtf16(
        u"\\\\?\\hid#vid_04d9&pid_a0d2&mi_01#7&2a4c1f3e&0&0000#"
        u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    ASSERT_TRUE(library->onDeviceData(kDeviceId, path, &dataSlot));
    ASSERT_EQ(dcsim({"report", "0102030405060708"}), 0);
    ASSERT_TRUE(received.waitFor([] { return received.reports.size() >= 1; }));

    ASSERT_EQ(dcsim({"unplug"}), 0);
    ASSERT_TRUE(received.waitFor([] { return received.events.size() >= 1; }));
    EXPECT_FALSE(library->deviceExist(kDeviceId));
    EXPECT_EQ(dcsim({"report", "0102030405060708"}), 1);
    ASSERT_EQ(dcsim({"plug"}), 0);
    ASSERT_TRUE(received.waitFor([] { return received.events.size() >= 2; }));
    EXPECT_EQ(received.events, (std::vector<std::uint16_t>{1, 2}));

    ASSERT_TRUE(library->onDeviceData(kDeviceId, path, &dataSlot));
    ASSERT_EQ(dcsim({"report", "A0B0C0D0E0F0FF00"}), 0);
    ASSERT_TRUE(received.waitFor([] { return received.reports.size() >= 2; }));
    EXPECT_EQ(received.reports, (std::vector<QString>{"0102030405060708", "a0b0c0d0e0f0ff00"}));
}

TEST(Dcsim, BadArgumentsPrintUsageAndExitWith2) {
    const QList<QStringList> bad = {{},
                                    {"frobnicate"},
                                    {"plug", "now"},
                                    {"loader", "now"},
                                    {"pull-after-blocks", "-1"},
                                    {"pull-after-blocks", "12345"},
                                    {"status", "-v"},
                                    {"report"},
                                    {"report", "0102"},
                                    {"report", "01020304050607zz"},
                                    {"report", "010203040506070809"},
                                    {"report", "0102030405060708", "x"}};
    for (const QStringList& arguments : bad) {
        QString output;
        EXPECT_EQ(dcsim(arguments, &output), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(output.startsWith("usage: dcsim")) << output.toStdString();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir folder;
    statePath = folder.filePath(QStringLiteral("dcsim.state"));
    qputenv("VELMORA_SIM_STATE", statePath.toLocal8Bit());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    // Leave the library loaded with its thread running: the process must still end.
    static DcLibrary library(kLibraryDir);
    library.onDeviceEvent(&eventSlot);
    return result;
}
