#include <gtest/gtest.h>

#include <limits>

#include "device/device_functions.h"
#include "tests/device/fake_library.h"

namespace {

const QString kId = QStringLiteral("HID\\VID_1234&PID_5678");
const QString kPath = QStringLiteral("\\\\?\\hid#path");

using Bytes = std::vector<std::uint8_t>;

ParamMap memoryMap(const QVariant& address, const QVariant& size, const QString& data = {}) {
    ParamMap map{
        {"HardwareID", kId}, {"DevicePath", kPath}, {"PARAMADDRESS", address}, {"PARAMSIZE", size}};
    if (!data.isNull())
        map.insert("PARAMDATA", data);
    return map;
}

ParamMap propertyMap(const QVariant& id, const QVariant& size, const QString& data = {}) {
    ParamMap map{{"HardwareID", kId}, {"DevicePath", kPath}, {"PARAMID", id}, {"PARAMSIZE", size}};
    if (!data.isNull())
        map.insert("PARAMDATA", data);
    return map;
}

TEST(HexParsing, PrefixSignWhitespaceAndStopCharacter) {
    EXPECT_EQ(DeviceFunctions::parseHex("1f"), 0x1f);
    EXPECT_EQ(DeviceFunctions::parseHex("0x1F"), 0x1f);
    EXPECT_EQ(DeviceFunctions::parseHex("0X0a"), 10);
    EXPECT_EQ(DeviceFunctions::parseHex(" \t\r\n16"), 0x16);
    EXPECT_EQ(DeviceFunctions::parseHex("+10"), 16);
    EXPECT_EQ(DeviceFunctions::parseHex("-10"), -16);
    EXPECT_EQ(DeviceFunctions::parseHex("-0x10"), -16);
    EXPECT_EQ(DeviceFunctions::parseHex("12g4"), 0x12);
    EXPECT_EQ(DeviceFunctions::parseHex("4096"), 0x4096);
    EXPECT_EQ(DeviceFunctions::parseHex(""), 0);
    EXPECT_EQ(DeviceFunctions::parseHex("zz"), 0);
    EXPECT_EQ(DeviceFunctions::parseHex("0x"), 0);
    EXPECT_EQ(DeviceFunctions::parseHex("- 5"), 0);
}

TEST(HexParsing, SaturatesToTheSigned32BitRange) {
    constexpr qint32 kMax = std::numeric_limits<qint32>::max();
    constexpr qint32 kMin = std::numeric_limits<qint32>::min();
    EXPECT_EQ(DeviceFunctions::parseHex("7fffffff"), kMax);
    EXPECT_EQ(DeviceFunctions::parseHex("80000000"), kMax);
    EXPECT_EQ(DeviceFunctions::parseHex("ffffffffffffffffffff"), kMax);
    EXPECT_EQ(DeviceFunctions::parseHex("-80000000"), kMin);
    EXPECT_EQ(DeviceFunctions::parseHex("-80000001"), kMin);
    EXPECT_EQ(DeviceFunctions::parseHex("-ffffffffffffffffffff"), kMin);
}

TEST(HexParsing, ByteItemsKeepTheLowEightBits) {
    EXPECT_EQ(DeviceFunctions::parseByte("1ff"), 0xFF);
    EXPECT_EQ(DeviceFunctions::parseByte("-1"), 0xFF);
    EXPECT_EQ(DeviceFunctions::parseByte("0x100"), 0x00);
    EXPECT_EQ(DeviceFunctions::parseByte("ffffffffff"), 0xFF);
    EXPECT_EQ(DeviceFunctions::parseByte("-ffffffffff"), 0x00);
    EXPECT_EQ(DeviceFunctions::parseByte(""), 0x00);
}

TEST(ByteListText, TwoLowerCaseDigitsPerByteJoinedByComma) {
    const quint8 bytes[] = {0x01, 0xFF, 0x0A};
    EXPECT_EQ(DeviceFunctions::byteListText(bytes, 3), "0x01,0xff,0x0a");
    EXPECT_EQ(DeviceFunctions::byteListText(bytes, 1), "0x01");
    EXPECT_EQ(DeviceFunctions::byteListText(bytes, 0), "");
}

class DeviceFunctionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = fakeDeviceIn(fakeFolder());
        ASSERT_NE(fake, nullptr);
        fake->clear();
    }
    // Calls of the library beyond the registration made at construction.
    int deviceCalls() const { return static_cast<int>(fake->calls.size()) - 1; }

    FakeDevice* fake = nullptr;
};

TEST_F(DeviceFunctionsTest, WritesNeedExactlySizeItemsAndKeepEmptyOnes) {
    DeviceFunctions device(fakeFolder());
    EXPECT_FALSE(device.writeByAddr(memoryMap("10", 0, "")));
    EXPECT_FALSE(device.writeByAddr(memoryMap("10", 3, "1,2")));
    EXPECT_FALSE(device.writeByAddr(memoryMap("10", 2, "1,2,")));
    EXPECT_FALSE(device.writeDevicesProp(propertyMap(42, 4, "1,2,3,4,5")));
    EXPECT_FALSE(device.writeBlock(kId, kPath, "10", "2", "1"));
    EXPECT_EQ(deviceCalls(), 0);

    EXPECT_TRUE(device.writeByAddr(memoryMap("10", 3, "0x1,2,ff")));
    EXPECT_EQ(fake->calls.back().target, 0x10);
    EXPECT_EQ(fake->calls.back().bytes, (Bytes{0x01, 0x02, 0xFF}));
    EXPECT_TRUE(device.writeByAddr(memoryMap("20", 4, "1,,3,")));
    EXPECT_EQ(fake->calls.back().bytes, (Bytes{0x01, 0x00, 0x03, 0x00}));
    EXPECT_TRUE(device.writeBlock(kId, kPath, "0x30", "2", " 1ff,-1"));
    EXPECT_EQ(fake->calls.back().target, 0x30);
    EXPECT_EQ(fake->calls.back().bytes, (Bytes{0xFF, 0xFF}));
}

TEST_F(DeviceFunctionsTest, AddressesAreHexEvenWhenGivenAsNumbers) {
    DeviceFunctions device(fakeFolder());
    EXPECT_TRUE(device.writeByAddr(memoryMap(16.0, 1, "5")));
    EXPECT_EQ(fake->calls.back().target, 0x16);
    EXPECT_TRUE(device.writeByAddr(memoryMap(4096, 1, "5")));
    EXPECT_EQ(fake->calls.back().target, 0x4096);
    EXPECT_TRUE(device.writeDevicesProp(propertyMap("42", "2", "a,b")));
    EXPECT_EQ(fake->calls.back().function, "dcWriteProp");
    EXPECT_EQ(fake->calls.back().target, 42);
    EXPECT_EQ(fake->calls.back().devicePath, u"");
}

TEST_F(DeviceFunctionsTest, LibraryRefusalMakesTheWriteFail) {
    DeviceFunctions device(fakeFolder());
    fake->writeResult = 5;
    EXPECT_FALSE(device.writeByAddr(memoryMap("10", 1, "1")));
    EXPECT_FALSE(device.writeDevicesProp(propertyMap(42, 1, "1")));
    EXPECT_FALSE(device.cleanMacroByAddr(memoryMap("10", 4)));
}

TEST_F(DeviceFunctionsTest, MissingKeysReachNothing) {
    DeviceFunctions device(fakeFolder());
    const ParamMap write = memoryMap("10", 1, "1");
    for (const QString key : {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}) {
        ParamMap map = write;
        map.remove(key);
        EXPECT_FALSE(device.writeByAddr(map)) << key.toStdString();
        EXPECT_FALSE(device.writeMacroByAddr(map)) << key.toStdString();
        EXPECT_FALSE(device.cleanMacroByAddr(map)) << key.toStdString();
        EXPECT_FALSE(device.isPropEmpty(map)) << key.toStdString();
        EXPECT_EQ(device.readByAddr(map), "") << key.toStdString();
    }
    ParamMap noData = write;
    noData.remove("PARAMDATA");
    EXPECT_FALSE(device.writeByAddr(noData));
    EXPECT_FALSE(device.writeMacroByAddr(noData));
    const ParamMap prop = propertyMap(42, 1, "1");
    for (const QString key : {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID", "PARAMDATA"}) {
        ParamMap map = prop;
        map.remove(key);
        EXPECT_FALSE(device.writeDevicesProp(map)) << key.toStdString();
        if (key != "PARAMDATA") {
            EXPECT_EQ(device.readDevicesProp(map), "") << key.toStdString();
        }
    }
    EXPECT_EQ(deviceCalls(), 0);
}

TEST_F(DeviceFunctionsTest, SizesBeyondTheBufferAreRefused) {
    DeviceFunctions device(fakeFolder());
    const QString items = QString("0,").repeated(2048) + "0";
    EXPECT_FALSE(device.writeByAddr(memoryMap("0", 2049, items)));
    EXPECT_FALSE(device.writeByAddr(memoryMap("0", -1, "")));
    EXPECT_EQ(device.readByAddr(memoryMap("0", 2049)), "");
    EXPECT_EQ(device.readDevicesProp(propertyMap(42, -3)), "");
    EXPECT_FALSE(device.isPropEmpty(memoryMap("0", 4000)));
    EXPECT_FALSE(device.cleanMacroByAddr(memoryMap("0", 2049)));
    EXPECT_FALSE(device.clearBlock(kId, kPath, "0", "-1"));
    EXPECT_FALSE(device.isBlockEmpty(kId, kPath, "0", "2049"));
    EXPECT_EQ(deviceCalls(), 0);

    EXPECT_TRUE(device.writeByAddr(memoryMap("0", 2048, QString("1,").repeated(2047) + "1")));
    EXPECT_EQ(fake->calls.back().size, 2048);
}

TEST_F(DeviceFunctionsTest, ReadsFormatTheRequestedBytes) {
    DeviceFunctions device(fakeFolder());
    fake->memory[0x100] = 0xAB;
    fake->memory[0x101] = 0x01;
    EXPECT_EQ(device.readByAddr(memoryMap("0x100", 3)), "0xab,0x01,0x00");
    EXPECT_EQ(device.readByAddr(memoryMap("100", 0)), "");
    fake->properties[42] = {1, 2, 3};
    EXPECT_EQ(device.readDevicesProp(propertyMap(42, 2)), "0x01,0x02");
    EXPECT_EQ(device.readPropertyText(kId, kPath, "42", "4"), "0x01,0x02,0x03,0x00");
    // A failed read leaves the zeroed buffer.
    EXPECT_EQ(device.readDevicesProp(propertyMap(77, 2)), "0x00,0x00");
    EXPECT_EQ(device.readByAddr(memoryMap("-1", 2)), "0x00,0x00");
}

TEST_F(DeviceFunctionsTest, MacroWritesGoOnlyIntoBlankMemory) {
    DeviceFunctions device(fakeFolder());
    const QString body = QString("7,").repeated(199) + "7";
    EXPECT_TRUE(device.isPropEmpty(memoryMap("1000", 200)));
    EXPECT_TRUE(device.isBlockEmpty(kId, kPath, "1000", "200"));
    fake->memory[0x1000 + 150] = 0x01;
    EXPECT_FALSE(device.isPropEmpty(memoryMap("1000", 200)));
    EXPECT_FALSE(device.isBlockEmpty(kId, kPath, "1000", "200"));

    const int writesBefore = fake->count("dcWrite");
    EXPECT_FALSE(device.writeMacroByAddr(memoryMap("1000", 200, body)));
    EXPECT_EQ(fake->count("dcWrite"), writesBefore);
    EXPECT_EQ(fake->memory[0x1000], 0x00);

    EXPECT_TRUE(device.cleanMacroByAddr(memoryMap("1000", 200)));
    EXPECT_EQ(fake->calls.back().bytes, Bytes(200, 0));
    EXPECT_TRUE(device.writeMacroByAddr(memoryMap("1000", 200, body)));
    EXPECT_EQ(fake->memory[0x1000], 0x07);
    EXPECT_EQ(fake->memory[0x1000 + 199], 0x07);

    EXPECT_TRUE(device.clearBlock(kId, kPath, "1000", "200"));
    EXPECT_TRUE(device.isBlockEmpty(kId, kPath, "1000", "200"));
    EXPECT_FALSE(device.writeMacroByAddr(memoryMap("1000", 200, "1,2")));
}

TEST_F(DeviceFunctionsTest, MemoryThatCannotBeReadIsNotBlank) {
    DeviceFunctions device(fakeFolder());
    const QString body = QString("7,").repeated(199) + "7";
    fake->readResult = 4;
    EXPECT_FALSE(device.isPropEmpty(memoryMap("1000", 200)));
    EXPECT_FALSE(device.isBlockEmpty(kId, kPath, "1000", "200"));
    EXPECT_FALSE(device.writeMacroByAddr(memoryMap("1000", 200, body)));
    EXPECT_EQ(fake->count("dcWrite"), 0);

    fake->readResult = 0;
    EXPECT_TRUE(device.isBlockEmpty(kId, kPath, "1000", "200"));
    EXPECT_TRUE(device.writeMacroByAddr(memoryMap("1000", 200, body)));
}

TEST_F(DeviceFunctionsTest, DpiReadsPickTheLevelPropertyAndScaleBy50) {
    DeviceFunctions device(fakeFolder());
    fake->properties[52] = {1, 0x10, 0, 0x20, 0, 0, 0, 0};
    fake->properties[7] = {0, 0xFF, 1, 0x01, 0, 0, 0, 0};
    fake->properties[50] = {0, 0x08, 0, 0x08, 0, 0, 0, 0};
    EXPECT_EQ(device.readDevicesDpiVal(kId, kPath, "2"), R"({"DpiXVal":"800","DpiYVal":"1600"})");
    EXPECT_EQ(fake->calls.back().target, 52);
    EXPECT_EQ(fake->calls.back().size, 8);
    EXPECT_EQ(device.readDevicesDpiVal(kId, kPath, "7"), R"({"DpiXVal":"12750","DpiYVal":"50"})");
    EXPECT_EQ(device.readDevicesDpiVal(kId, kPath, "junk"), R"({"DpiXVal":"400","DpiYVal":"400"})");
    device.readDevicesDpiVal(kId, kPath, "-1");
    EXPECT_EQ(fake->calls.back().target, -1);
    EXPECT_EQ(device.readDevicesDpiVal(kId, kPath, "5"), R"({"DpiXVal":"0","DpiYVal":"0"})");
}

TEST_F(DeviceFunctionsTest, SummaryTextOfTheDeviceSettings) {
    DeviceFunctions device(fakeFolder());
    fake->properties[48] = {2};
    fake->properties[40] = {4};
    fake->properties[52] = {1, 0x10, 0, 0x20, 0, 0, 0, 0};
    fake->properties[42] = {1, 100, 3, 0x00, 0x80, 0x0F, 4, 5, 6, 9};
    fake->properties[43] = {8, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    fake->properties[44] = {1, 50, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(device.readDeviceSummary(kId, kPath),
              "reporVal:4,curDpi:2,DpiXVal:800,DpiYVal:1600,lightVal:1,100,3,080f,4,5,6,"
              "jittersVal:8,2,soundVal:1,50,");

    fake->properties[48] = {9};
    fake->properties[9] = {0, 1, 0, 2, 0, 0, 0, 0};
    EXPECT_EQ(device.readDeviceSummary(kId, kPath).section(',', 0, 3),
              "reporVal:4,curDpi:9,DpiXVal:50,DpiYVal:100");
}

TEST(DeviceFunctionsWithoutEntryPoints, ReadsGiveZerosAndWritesFail) {
    DeviceFunctions device(minimalFakeFolder());
    EXPECT_EQ(device.readByAddr(memoryMap("0", 2)), "0x00,0x00");
    EXPECT_EQ(device.readDevicesProp(propertyMap(40, 1)), "0x00");
    // Nothing was read, so nothing is known to be blank.
    EXPECT_FALSE(device.isPropEmpty(memoryMap("0", 2)));
    EXPECT_FALSE(device.isBlockEmpty(kId, kPath, "0", "200"));
    EXPECT_FALSE(device.writeByAddr(memoryMap("0", 1, "1")));
    EXPECT_FALSE(device.writeDevicesProp(propertyMap(40, 1, "1")));
    EXPECT_FALSE(device.cleanMacroByAddr(memoryMap("0", 1)));
    EXPECT_FALSE(device.writeMacroByAddr(memoryMap("0", 1, "1")));
    EXPECT_EQ(device.readDevicesDpiVal(kId, kPath, "0"), R"({"DpiXVal":"0","DpiYVal":"0"})");
    EXPECT_EQ(device.readDeviceSummary(kId, kPath),
              "reporVal:0,curDpi:0,DpiXVal:0,DpiYVal:0,lightVal:0,0,0,000,0,0,0,"
              "jittersVal:0,0,soundVal:0,0,");
}

}  // namespace
