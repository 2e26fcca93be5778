#include "commands/key_script_builder.h"
#include "commands/profile_store.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/commands/qt_printers.h"

namespace {

// Thirty macro slots at 0x1000, 0x1100, …; a stored block keeps its data, and a block of
// zero bytes only is empty.
class FakeSlotDevice : public MacroSlotDevice {
  public:
    bool isBlockEmpty(const QString& hardwareId, const QString& devicePath, const QString& address,
                      const QString& size) override {
        calls << QString("empty %1 %2 %3 %4").arg(hardwareId, devicePath, address, size);
        if (!blocks.contains(address))
            return true;
        const QStringList items = blocks.value(address).split(',');
        return std::all_of(items.begin(), items.end(), [](const QString& item) {
            bool ok = false;
            return item.toUInt(&ok, 16) == 0 && ok;
        });
    }
    bool writeBlock(const QString& hardwareId, const QString& devicePath, const QString& address,
                    const QString& size, const QString& data) override {
        calls << QString("write %1 %2 %3").arg(hardwareId, devicePath, address);
        if (failingAddresses.contains(address) || data.split(',').size() != size.toInt())
            return false;
        blocks.insert(address, data);
        return true;
    }

    static QString slotAddress(int slot) {
        return QString("0x%1").arg(0x1000 + slot * 0x100, 0, 16);
    }
    void fill(int count) {
        for (int slot = 0; slot < count; ++slot)
            blocks.insert(slotAddress(slot), QString("stored %1").arg(slot));
    }

    QMap<QString, QString> blocks;
    QStringList failingAddresses;
    QStringList calls;
};

class KeyScriptBuilderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath("app/Resources"));
        QString keys = QString(
            "<keyboard>"
            "<key name=\"A\" hidCode=\"0x04\"/><key name=\"B\" hidCode=\"0x05\"/>"
            "<key name=\"CTRL\" hidCode=\"0xe0\"/><key name=\"SHIFT\" hidCode=\"0xe1\"/>"
            "<key name=\"ALT\" hidCode=\"0xe2\"/>"
            "<key name=\"左键\" hidCode=\"0x01\"/><key name=\"右键\" hidCode=\"0x02\"/>"
            "<key name=\"&quot;\" hidCode=\"0x34\"/><key name=\"&apos;&quot;\" hidCode=\"0x35\"/>");
        for (int slot = 0; slot < KeyScriptBuilder::kMacroSlots; ++slot)
            keys += QString("<macro name=\"macro%1\" code=\"%2\"/>")
                        .arg(slot)
                        .arg(FakeSlotDevice::slotAddress(slot));
        keys += "</keyboard>";
        writeKeyFile("mouse1.1.xml", keys);
    }

    void writeKeyFile(const QString& name, const QString& text) {
        QFile file(appFolder() + "/Resources/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    QString appFolder() const { return root.path() + "/app"; }

    QString build(const QString& data, const QString& type, QVariantMap query = {}) {
        query.insert("HardwareID", "hw1");
        query.insert("DevicePath", "path1");
        return builder.buildKeyScript(data, type, query);
    }
    QStringList slotItems(int slot) const {
        return device.blocks.value(FakeSlotDevice::slotAddress(slot)).split(',');
    }
    static QStringList padded(QStringList items) {
        while (items.size() < KeyScriptBuilder::kMacroSlotItems)
            items << "0x00";
        return items;
    }

    QTemporaryDir root;
    ProfileStore store{appFolder()};
    QString keyDefinitionFile = "mouse1.1.xml";
    FakeSlotDevice device;
    KeyScriptBuilder builder{store, keyDefinitionFile, device};
};

TEST(SplitValueTest, SplitsIntoLowAndHighItemsBelow4096) {
    EXPECT_EQ(splitValue(100), (QStringList{"64", "0x00"}));
    EXPECT_EQ(splitValue(500), (QStringList{"f4", "1"}));
    EXPECT_TRUE(splitValue(4096).isEmpty());
    EXPECT_TRUE(splitValue(-1).isEmpty());
}

TEST_F(KeyScriptBuilderTest, DpiScripts) {
    EXPECT_EQ(build("1|800|400", "DPI"), "1,10,0x00,10,0x00,0x00,0x00,0x00");
    EXPECT_EQ(build("0|800|400", "DPI"), "0,10,0x00,8,0x00,0x00,0x00,0x00");
    EXPECT_EQ(build("0|16000|100", "DPI"), "0,40,1,2,0x00,0x00,0x00,0x00");
    EXPECT_EQ(build("0|204799|50", "DPI"), "0,ff,f,1,0x00,0x00,0x00,0x00");
}

TEST_F(KeyScriptBuilderTest, DpiThatCannotBeEncodedAndUnknownTypesGiveEmptyScript) {
    for (const char* data : {"0|204800|400", "1|800|204800", "1|800", "1||800|", "", "1|x|400"})
        EXPECT_TRUE(build(data, "DPI").isEmpty()) << data;
    EXPECT_TRUE(build("1|800|400", "dpi").isEmpty());
    EXPECT_TRUE(build("A", "mouseFunc").isEmpty());
}

TEST_F(KeyScriptBuilderTest, GKeyScripts) {
    EXPECT_EQ(build("0x81|1|2", "gKey"), "0x05,0x81,1,2");
    EXPECT_EQ(build("A|10|255", "gKey"), "0x05,0x04,a,ff");
    // Names are not upper-cased here; an unknown one would go out as an empty item, which the
    // device reads as key code 0.
    EXPECT_TRUE(build("a|1|2", "gKey").isEmpty());
    for (const char* data : {"0x81|1", "A||2", "A|1|256", "A|1|x"})
        EXPECT_TRUE(build(data, "gKey").isEmpty()) << data;
}

TEST_F(KeyScriptBuilderTest, HotKeyScripts) {
    EXPECT_EQ(build("A", "hotKey"), "0x02,0x00,0x04,0x00");
    EXPECT_EQ(build("CTRL+A", "hotKey"), "0x02,0xe0,0x04,0x00");
    EXPECT_EQ(build("CTRL+SHIFT+ALT+A", "hotKey"), "0x02,0xe0,0xe1,0xe2");
    EXPECT_EQ(build("a", "hotKey"), "0x02,0x00,0x00,0x00");
}

TEST_F(KeyScriptBuilderTest, KeyNamesWithQuotesAreLookedUpLiterally) {
    EXPECT_EQ(build("\"", "hotKey"), "0x02,0x00,0x34,0x00");
    EXPECT_EQ(build("'\"", "hotKey"), "0x02,0x00,0x35,0x00");
    EXPECT_EQ(build("A\"]|//key[@name=\"B", "hotKey"), "0x02,0x00,0x00,0x00");
}

TEST_F(KeyScriptBuilderTest, MacroDelayStoresBodyAndReferencesSlot) {
    EXPECT_EQ(build("延迟(100)", "macro", {{"LOOP", "3"}}), "0x04,0,0,7");
    EXPECT_EQ(slotItems(0), padded({"0x06", "64", "0x00", "0x07", "3", "0x00"}));
    EXPECT_EQ(device.calls.first(), "empty hw1 path1 0x1000 200");

    // Without a loop count the empty item is dropped; slot 0 is taken now.
    EXPECT_EQ(build("延迟(100)", "macro"), "0x04,0,1,6");
    EXPECT_EQ(slotItems(1), padded({"0x06", "64", "0x00", "0x07", "0x00"}));
}

TEST_F(KeyScriptBuilderTest, MacroKeysAndButtons) {
    EXPECT_EQ(build(" 按下 (a)延迟(500)弹起(A)按下(左键)弹起(右键)", "macro", {{"LOOP", "1"}}),
              "0x04,0,0,13");
    EXPECT_EQ(slotItems(0),
              padded({"0x84", "0x04", "0x00", "0x06", "f4", "1", "0x04", "0x04", "0x00", "0x81",
                      "0x01", "0x00", "0x01", "0x02", "0x00", "0x07", "1", "0x00"}));
}

TEST_F(KeyScriptBuilderTest, MacroDropsUnknownKeysAndActions) {
    EXPECT_EQ(build("按下(Q)按下(B)跳(A)(A)弹起(B)", "macro"), "0x04,0,0,9");
    EXPECT_EQ(slotItems(0),
              padded({"0x84", "0x05", "0x00", "0x04", "0x05", "0x00", "0x07", "0x00"}));
    device.calls.clear();
    EXPECT_TRUE(build("按下(Q)弹起(Q)", "macro").isEmpty());
    EXPECT_TRUE(device.calls.isEmpty());
}

TEST_F(KeyScriptBuilderTest, MacroThatCannotBeEncodedTouchesNoSlot) {
    EXPECT_TRUE(build("按下(A)延迟(4096)", "macro").isEmpty());
    EXPECT_TRUE(build("延迟(abc)", "macro").isEmpty());
    QString tooLong;
    for (int i = 0; i < 67; ++i)
        tooLong += "按下(A)";
    EXPECT_TRUE(build(tooLong, "macro").isEmpty());
    EXPECT_TRUE(device.calls.isEmpty());

    // 66 presses and the loop item fill the slot exactly.
    EXPECT_EQ(build(tooLong.mid(5), "macro"), "0x04,0,0,c9");
}

TEST_F(KeyScriptBuilderTest, LinkFlagAndLoopCountMustBeOneScriptItem) {
    EXPECT_EQ(build("0x1|800|400", "DPI"), "0x1,10,0x00,8,0x00,0x00,0x00,0x00");
    for (const char* link : {"x", "1,2", "100", "0x", " 1"})
        EXPECT_TRUE(build(QString(link) + "|800|400", "DPI").isEmpty()) << link;

    for (const char* loop : {"1,2", "zz", "100", "0x", ",", "1 "})
        EXPECT_TRUE(build("延迟(100)", "macro", {{"LOOP", loop}}).isEmpty()) << loop;
    EXPECT_TRUE(device.calls.isEmpty());
    EXPECT_EQ(build("延迟(100)", "macro", {{"LOOP", "0xff"}}), "0x04,0,0,7");
    EXPECT_EQ(build("延迟(100)", "macro", {{"LOOP", ""}}), "0x04,0,1,6");
}

TEST_F(KeyScriptBuilderTest, MacroTakesFirstSlotThatAcceptsTheBody) {
    device.fill(11);
    device.failingAddresses << FakeSlotDevice::slotAddress(11);
    EXPECT_EQ(build("延迟(100)", "macro"), "0x04,0,c,6");
    EXPECT_EQ(slotItems(12), padded({"0x06", "64", "0x00", "0x07", "0x00"}));
}

TEST_F(KeyScriptBuilderTest, FullDeviceRefusesTheMacroAndKeepsEverySlot) {
    device.fill(KeyScriptBuilder::kMacroSlots);
    const QMap<QString, QString> before = device.blocks;
    EXPECT_TRUE(build("延迟(100)", "macro").isEmpty());
    EXPECT_EQ(device.blocks, before);
    EXPECT_FALSE(device.calls.join(' ').contains("write"));
}

TEST_F(KeyScriptBuilderTest, ReleasingTheStoredMacroBlanksItsSlotForTheNextMacro) {
    device.fill(2);
    EXPECT_EQ(build("延迟(100)", "macro"), "0x04,0,2,6");
    device.calls.clear();
    EXPECT_TRUE(builder.releaseStoredMacro());
    EXPECT_EQ(device.calls, QStringList{"write hw1 path1 0x1200"});
    EXPECT_EQ(slotItems(2), padded({}));
    EXPECT_EQ(slotItems(1), QStringList{"stored 1"});

    // Released once only; the blank slot takes the next macro.
    EXPECT_TRUE(builder.releaseStoredMacro());
    EXPECT_EQ(device.calls.size(), 1);
    EXPECT_EQ(build("延迟(200)", "macro"), "0x04,0,2,6");
}

TEST_F(KeyScriptBuilderTest, ReleaseFreesNothingAfterABuildThatStoredNoMacro) {
    device.fill(1);
    EXPECT_EQ(build("延迟(100)", "macro"), "0x04,0,1,6");
    // The macro went to a button; the next assignment of this builder stores none.
    EXPECT_FALSE(build("1|800|400", "DPI").isEmpty());
    EXPECT_TRUE(build("按下(Q)", "macro").isEmpty());
    device.calls.clear();
    EXPECT_TRUE(builder.releaseStoredMacro());
    EXPECT_TRUE(device.calls.isEmpty());
    EXPECT_EQ(slotItems(1), padded({"0x06", "64", "0x00", "0x07", "0x00"}));
}

TEST_F(KeyScriptBuilderTest, ShippedKeyTableOffersOnlyTheButtonsDeviceMacrosKnow) {
    QFile::remove(appFolder() + "/Resources/mouse1.1.xml");
    ASSERT_TRUE(QFile::copy(VELMORA_SOURCE_DIR "/resources/appdir/Resources/mouse1.1.xml",
                            appFolder() + "/Resources/mouse1.1.xml"));
    EXPECT_EQ(build("按下(左键)弹起(右键)", "macro"), "0x04,0,0,9");
    EXPECT_EQ(slotItems(0).mid(0, 6),
              (QStringList{"0x81", "0x01", "0x00", "0x01", "0x02", "0x00"}));

    // The middle button has no device code: a macro of it is refused rather than sent as a key.
    EXPECT_TRUE(builder.lookupKeyAttribute("/keyboard/key[@name=\"中键\"]", "hidCode").isEmpty());
    device.calls.clear();
    EXPECT_TRUE(build("按下(中键)弹起(中键)", "macro").isEmpty());
    EXPECT_TRUE(device.calls.isEmpty());
}

TEST_F(KeyScriptBuilderTest, SlotsMissingFromTheKeyFileAreSkipped) {
    writeKeyFile("slots.xml",
                 "<keyboard><key name=\"A\" hidCode=\"0x04\"/>"
                 "<macro name=\"macro5\" code=\"0x1500\"/></keyboard>");
    keyDefinitionFile = "slots.xml";
    EXPECT_EQ(build("按下(A)", "macro"), "0x04,0,5,6");
    EXPECT_EQ(device.blocks.keys(), QStringList{"0x1500"});
}

TEST_F(KeyScriptBuilderTest, KeyFileIsReadThroughTheProfileCache) {
    EXPECT_EQ(build("A", "hotKey"), "0x02,0x00,0x04,0x00");
    const ProfileAnswer changed = store.modifyProfileXml(
        "Resources/mouse1.1.xml", "<keyboard><key name=\"A\" hidCode=\"0x1e\"/></keyboard>");
    ASSERT_EQ(changed.kind, ProfileAnswer::Success);
    EXPECT_EQ(build("A", "hotKey"), "0x02,0x00,0x1e,0x00");
}

TEST_F(KeyScriptBuilderTest, MissingOrEscapingKeyFileGivesEmptyLookups) {
    QFile outside(root.path() + "/keys.xml");
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
    outside.write("<keyboard><key name=\"A\" hidCode=\"0x04\"/></keyboard>");
    outside.close();
    for (const char* name : {"../../keys.xml", "missing.xml", ""}) {
        keyDefinitionFile = name;
        EXPECT_EQ(build("A", "hotKey"), "0x02,0x00,0x00,0x00") << name;
        EXPECT_TRUE(build("A|1|2", "gKey").isEmpty()) << name;
    }
}

}  // namespace
