#include <gtest/gtest.h>

#include <QJsonObject>

#include <algorithm>
#include <cstring>

#include "device/devices_handler.h"
#include "tests/device/fake_library.h"

namespace {

void setText(char* field, const char* text) {
    std::strcpy(field, text);
}

// Entry fields are not aligned for char16_t in the packed block.
void setWide(void* field, const std::u16string& text) {
    std::memcpy(field, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

void setEntry(dc::DeviceEntry& entry, const char* name, const std::u16string& id,
              const std::u16string& path) {
    setText(entry.name, name);
    setText(entry.version, "V2.10");
    setText(entry.sn, "SN42");
    setText(entry.mask, "1");
    entry.vendorId = 0x1234;
    entry.productId = 0x5678;
    setWide(entry.deviceId, id);
    setWide(entry.devicePath, path);
}

class DevicesHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = fakeDeviceIn(fakeFolder());
        ASSERT_NE(fake, nullptr);
        fake->clear();
    }
    void TearDown() override { devices_handler::setDeviceDataSink(nullptr); }
    FakeDevice* fake = nullptr;
};

TEST_F(DevicesHandlerTest, RegistersItsEventCallbackWhenBuilt) {
    devices_handler handler(fakeFolder());
    ASSERT_NE(fake->eventCallback, nullptr);
    EXPECT_EQ(*fake->eventCallback, &devices_handler::onDeviceEvent);
}

TEST_F(DevicesHandlerTest, ListsWithTheVendorUsageFilterAndRegistersDataForTheFirstEntry) {
    devices_handler handler(fakeFolder());
    handler.listDevices();
    EXPECT_EQ(fake->count("dconDeviceData"), 0);
    EXPECT_EQ(fake->lastFilter.pairs[0].usage, 1);
    EXPECT_EQ(fake->lastFilter.pairs[0].usagePage, 0xFFA0);
    EXPECT_EQ(fake->lastFilter.pairs[1].usage, 1);
    EXPECT_EQ(fake->lastFilter.pairs[1].usagePage, 0xFFAA);
    for (int i = 2; i < 20; ++i) {
        EXPECT_EQ(fake->lastFilter.pairs[i].usage, 0);
        EXPECT_EQ(fake->lastFilter.pairs[i].usagePage, 0);
    }

    fake->block.count = 2;
    setEntry(fake->block.entries[0], "first", u"HID\\VID_1234&PID_5678", u"\\\\?\\first");
    setEntry(fake->block.entries[1], "second", u"HID\\VID_1111&PID_2222", u"\\\\?\\second");
    handler.listDevices();
    handler.listDevices();
    ASSERT_EQ(fake->count("dconDeviceData"), 2);
    const FakeCall& call = fake->calls.back();
    EXPECT_EQ(call.hardwareId, u"HID\\VID_1234&PID_5678");
    EXPECT_EQ(call.devicePath, u"\\\\?\\first");
    EXPECT_EQ(call.channel, 4118u);
}

TEST_F(DevicesHandlerTest, PageListKeepsOnlyIdsWithVidAndPid) {
    fake->block.count = 3;
    setEntry(fake->block.entries[0], "mouse", u"HID\\VID_1234&PID_5678&MI_01", u"\\\\?\\hid#m");
    setEntry(fake->block.entries[1], "nopid", u"HID\\VID_1234", u"\\\\?\\hid#n");
    setEntry(fake->block.entries[2], "lower", u"HID\\Vid_04d9&Pid_b0d2", u"\\\\?\\hid#l");
    std::memcpy(fake->block.entries[0].version, "0123456789ABCDEFG", 17);  // no terminator
    devices_handler handler(fakeFolder());
    const QJsonArray list = handler.getDevicesList();
    ASSERT_EQ(list.size(), 1);
    const QJsonObject device = list[0].toObject();
    EXPECT_EQ(device.size(), 7);
    EXPECT_EQ(device["sid"].toString(), "");
    EXPECT_EQ(device["type"].toString(), "");
    EXPECT_EQ(device["deviceId"].toString(), "HID\\VID_1234&PID_5678&MI_01");
    EXPECT_EQ(device["devicePath"].toString(), "\\\\?\\hid#m");
    EXPECT_EQ(device["sn"].toString(), "SN42");
    EXPECT_EQ(device["version"].toString(), "0123456789ABCDEF");
    EXPECT_EQ(device["mask"].toString(), "1");
}

TEST_F(DevicesHandlerTest, MalformedBlockIsReadWithinItsFields) {
    fake->block.count = 25;
    for (dc::DeviceEntry& entry : fake->block.entries) {
        std::memset(entry.name, 'N', sizeof entry.name);
        std::memset(entry.version, 'V', sizeof entry.version);
        std::memset(entry.sn, 'S', sizeof entry.sn);
        std::memset(entry.mask, 'M', sizeof entry.mask);
        std::u16string id = u"HID\\VID_1234&PID_5678";
        id.resize(255, u'X');
        std::memcpy(entry.deviceId, id.data(), sizeof entry.deviceId);
        std::u16string path(255, u'P');
        std::memcpy(entry.devicePath, path.data(), sizeof entry.devicePath);
    }
    devices_handler handler(fakeFolder());
    const dc::DeviceListBlock block = handler.listDevices();
    EXPECT_EQ(devices_handler::entryCount(block), 20);
    const Device_Record record = devices_handler::deviceRecord(block.entries[19]);
    EXPECT_EQ(record.name, QByteArray(40, 'N'));
    EXPECT_EQ(record.version, QByteArray(17, 'V'));
    EXPECT_EQ(record.sn, QByteArray(14, 'S'));
    EXPECT_EQ(record.mask, QByteArray(2, 'M'));
    EXPECT_EQ(record.deviceId.size(), 255);
    EXPECT_EQ(record.devicePath, QString(255, QLatin1Char('P')));

    const QJsonArray list = handler.getDevicesList();
    EXPECT_EQ(list.size(), 20);
    EXPECT_EQ(list[0].toObject()["version"].toString(), QString(16, QLatin1Char('V')));
}

TEST_F(DevicesHandlerTest, MissingLibraryListsNothing) {
    devices_handler handler(minimalFakeFolder() + QStringLiteral("/absent"));
    const dc::DeviceListBlock block = handler.listDevices();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof block, [](unsigned char b) { return b == 0; }));
    EXPECT_TRUE(handler.getDevicesList().isEmpty());
}

TEST(DeviceKey, VendorThenProductInUpperCaseHexAtLeastFourWide) {
    EXPECT_EQ(devices_handler::deviceKey(1, 2), "00010002");
    EXPECT_EQ(devices_handler::deviceKey(0x04d9, 0xa0d2), "04D9A0D2");
    EXPECT_EQ(devices_handler::deviceKey(0x12345, 0xabc), "123450ABC");
}

TEST_F(DevicesHandlerTest, DataReportsReachTheSinkAsLowerCaseHex) {
    QStringList received;
    devices_handler::setDeviceDataSink([&received](const QString& hex) { received << hex; });
    fake->block.count = 1;
    setEntry(fake->block.entries[0], "mouse", u"HID\\VID_1234&PID_5678", u"\\\\?\\m");
    devices_handler handler(fakeFolder());
    handler.listDevices();
    ASSERT_NE(fake->dataCallback, nullptr);
    const dc::DeviceDataCallback callback = *fake->dataCallback;
    const std::uint8_t report[8] = {0x01, 0xAB, 0x00, 0xFF, 0x10, 0x0C, 0xDE, 0x7F};
    const std::uint8_t* data = report;
    EXPECT_TRUE(callback(&data, nullptr));
    EXPECT_TRUE(callback(nullptr, nullptr));
    const std::uint8_t* none = nullptr;
    EXPECT_TRUE(callback(&none, nullptr));
    EXPECT_EQ(received, QStringList{"01ab00ff100cde7f"});
}

}  // namespace
