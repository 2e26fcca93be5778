#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>

#include "device/dc_library.h"
#include "tests/device/fake_library.h"

namespace {

const QString kId = QStringLiteral("HID\\VID_1234&PID_5678");

class DcLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = fakeDeviceIn(fakeFolder());
        ASSERT_NE(fake, nullptr);
        fake->clear();
    }
    FakeDevice* fake = nullptr;
};

TEST_F(DcLibraryTest, ResolvesWhatTheLibraryExportsAndLeavesTheRestNull) {
    const DcLibrary library(fakeFolder());
    ASSERT_TRUE(library.isLoaded());
    const DcEntryPoints& e = library.entryPoints();
    EXPECT_NE(e.dcDeviceExist, nullptr);
    EXPECT_NE(e.dcDevices, nullptr);
    EXPECT_NE(e.dcOnDeviceEvent, nullptr);
    EXPECT_NE(e.dconDeviceData, nullptr);
    EXPECT_NE(e.dcRead, nullptr);
    EXPECT_NE(e.dcWrite, nullptr);
    EXPECT_NE(e.dcReadProp, nullptr);
    EXPECT_NE(e.dcWriteProp, nullptr);
    EXPECT_EQ(e.dcAsk, nullptr);
    EXPECT_EQ(e.dcReset, nullptr);
    EXPECT_EQ(e.dcNotify, nullptr);
    EXPECT_EQ(e.dcScriptOut, nullptr);
    EXPECT_EQ(e.dcIDWrite, nullptr);
    EXPECT_EQ(e.dcRebootRom, nullptr);
    EXPECT_EQ(e.dcFinishUpdateRom, nullptr);
    EXPECT_EQ(e.dcCheckRom, nullptr);
    EXPECT_EQ(e.dcBornRom, nullptr);
    EXPECT_EQ(e.dcEraseRom, nullptr);
}

TEST_F(DcLibraryTest, MissingEntryPointsDoNothingAndAnswerFalse) {
    const DcLibrary library(fakeFolder());
    quint8 status = 0xAA;
    quint8 block[4] = {1, 2, 3, 4};
    EXPECT_FALSE(library.ask(kId));
    EXPECT_FALSE(library.reset(kId, 1, &status));
    EXPECT_FALSE(library.notify(kId));
    EXPECT_FALSE(library.scriptOut(kId));
    EXPECT_FALSE(library.idWrite(kId));
    EXPECT_FALSE(library.rebootRom(kId));
    EXPECT_FALSE(library.eraseRom(kId));
    EXPECT_FALSE(library.bornRom(kId, block, 4, 0));
    EXPECT_FALSE(library.checkRom(kId, 4, 10));
    EXPECT_FALSE(library.finishUpdateRom(kId));
    EXPECT_EQ(status, 0xAA);
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(DcLibraryTest, PassesTheIdAsUtf16AnEmptyPathAndTheChannel) {
    const DcLibrary library(fakeFolder());
    const QString id = QStringLiteral("HID\\VID_1234&PID_5678&Ü");
    quint8 buffer[8] = {};
    fake->memory[0x20] = 0x5A;
    EXPECT_TRUE(library.read(id, buffer, 8, 0x20));
    EXPECT_EQ(buffer[0], 0x5A);
    const quint8 bytes[2] = {7, 8};
    EXPECT_TRUE(library.writeProp(id, bytes, 2, 42));
    ASSERT_EQ(fake->calls.size(), 2u);
    for (const FakeCall& call : fake->calls) {
        EXPECT_EQ(call.hardwareId, u"HID\\VID_1234&PID_5678&Ü");
        EXPECT_EQ(call.devicePath, u"");
        EXPECT_EQ(call.channel, 4118u);
    }
    EXPECT_EQ(fake->calls[1].target, 42);
    EXPECT_EQ(fake->calls[1].bytes, (std::vector<std::uint8_t>{7, 8}));
}

TEST_F(DcLibraryTest, ResultsFollowTheLibrarysAnswer) {
    const DcLibrary library(fakeFolder());
    EXPECT_TRUE(library.deviceExist(kId));
    EXPECT_FALSE(library.deviceExist(QStringLiteral("HID\\VID_0000&PID_0000")));
    const quint8 bytes[1] = {1};
    fake->writeResult = 3;
    EXPECT_FALSE(library.write(kId, bytes, 1, 0));
    quint8 buffer[4] = {9, 9, 9, 9};
    EXPECT_FALSE(library.readProp(kId, buffer, 4, 99));
}

TEST_F(DcLibraryTest, ListsWithTheFullBlockSizeAndRegistersDataWithTheGivenPath) {
    const DcLibrary library(fakeFolder());
    dc::DeviceListBlock block;
    dc::UsageFilter filter{};
    EXPECT_TRUE(library.devices(filter, &block));
    EXPECT_EQ(fake->lastBlockSize, 42102u);
    dc::DeviceDataCallback callback = nullptr;
    EXPECT_TRUE(library.onDeviceData(kId, QStringLiteral("\\\\?\\hid#x"), &callback));
    EXPECT_EQ(fake->calls.back().devicePath, u"\\\\?\\hid#x");
    EXPECT_EQ(fake->calls.back().channel, 4118u);
    EXPECT_EQ(fake->dataCallback, &callback);
}

TEST(DcLibraryMissing, NothingResolvesWithoutTheLibrary) {
    QTemporaryDir empty;
    DcLibrary library(empty.path());
    EXPECT_FALSE(library.isLoaded());
    const DcEntryPoints& e = library.entryPoints();
    const void* const* pointers = reinterpret_cast<const void* const*>(&e);
    for (std::size_t i = 0; i < sizeof(DcEntryPoints) / sizeof(void*); ++i)
        EXPECT_EQ(pointers[i], nullptr) << "entry point " << i;
    dc::DeviceListBlock block;
    std::memset(&block, 0x11, sizeof block);
    EXPECT_FALSE(library.devices(dc::UsageFilter{}, &block));
    EXPECT_EQ(block.count, 0x1111);
    dc::DeviceEventCallback callback = nullptr;
    EXPECT_FALSE(library.onDeviceEvent(&callback));
    EXPECT_FALSE(library.deviceExist(kId));
}

}  // namespace
