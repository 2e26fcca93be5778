#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>

#include "app/tray_quick_switch.h"
#include "commands/profile_store.h"
#include "device/device_functions.h"
#include "tests/device/fake_library.h"

namespace {

const QByteArray kConf = R"(<root><conf deviceId="04D9A0D2"><productInfo device="vm100"/></conf>
<conf deviceId="11112222"><productInfo device="other"/></conf></root>)";

void attach(FakeDevice& fake, int slot, quint32 vendor, quint32 product, const std::u16string& id) {
    dc::DeviceEntry& entry = fake.block.entries[slot];
    entry.vendorId = vendor;
    entry.productId = product;
    std::memcpy(entry.deviceId, id.c_str(), (id.size() + 1) * sizeof(char16_t));
    fake.block.count = static_cast<std::uint16_t>(slot + 1);
}

class TrayQuickSwitchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(fake_, nullptr);
        fake_->clear();
        ASSERT_TRUE(QDir(folder_.path()).mkpath(QStringLiteral("profiles/vm100")));
    }

    // Five stages of 400, 800, ... DPI in the device's steps of 50, the third one current.
    void giveStages() {
        for (int i = 0; i < 5; ++i) {
            const int steps = 8 << i;
            fake_->properties[50 + i] = {
                1, std::uint8_t(steps & 0xff), std::uint8_t(steps >> 8), 0, 0, 0, 0, 0};
        }
        fake_->properties[48] = {2};
    }

    void writeIndex(const QByteArray& text) {
        QFile file(folder_.filePath(QStringLiteral("profiles/vm100/index.xml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    FakeDevice* fake_ = fakeDeviceIn(fakeFolder());
    QTemporaryDir folder_;
    DeviceFunctions device_{fakeFolder()};
    ProfileStore profiles_{folder_.path()};
    TrayQuickSwitch quick_{device_, profiles_, [] { return kConf; }};
};

TEST_F(TrayQuickSwitchTest, StagesOfTheFirstKnownMouseAreReadAndOneIsSetOnIt) {
    attach(*fake_, 0, 0x1111, 0x2222, u"HID\\VID_1111&PID_2222");
    attach(*fake_, 1, 0x04D9, 0xA0D2, u"HID\\VID_04D9&PID_A0D2");
    giveStages();
    const TrayQuickSwitch::Stages stages = quick_.dpiStages();
    EXPECT_EQ(stages.dpi, (QList<int>{400, 800, 1600, 3200, 6400}));
    EXPECT_EQ(stages.current, 2);

    ASSERT_TRUE(quick_.chooseDpiStage(4));
    EXPECT_EQ(fake_->properties[48], std::vector<std::uint8_t>{4});
    EXPECT_EQ(fake_->calls.back().hardwareId, u"HID\\VID_04D9&PID_A0D2");
    EXPECT_FALSE(quick_.chooseDpiStage(5));
    EXPECT_FALSE(quick_.chooseDpiStage(-1));
}

TEST_F(TrayQuickSwitchTest, NoChoicesWithoutAMouseThatAnswers) {
    struct Case {
        const char* what;
        bool known;
        bool answers;
    };
    for (const Case& c : {Case{"no mouse of the model", false, true},
                          Case{"a mouse that does not answer", true, false}}) {
        fake_->clear();
        attach(*fake_, 0, c.known ? 0x04D9 : 0x1111, c.known ? 0xA0D2 : 0x2222, u"HID\\X");
        if (c.answers)
            giveStages();
        EXPECT_TRUE(quick_.dpiStages().dpi.isEmpty()) << c.what;
        if (!c.known) {
            EXPECT_FALSE(quick_.chooseDpiStage(0)) << c.what;
        }
    }
}

TEST_F(TrayQuickSwitchTest, ProfilesAreListedAsTheSettingsPageListsThem) {
    writeIndex(R"(<profiles model="vm100"><profile name="Game" file="profile-1.xml"/>
<profile name="" file="profile-2.xml"/><profile name="Stray" file="../conf.xml"/>
<profile name="Work" file="profile-7.xml"/></profiles>)");
    EXPECT_EQ(quick_.profileNames(), (QStringList{"Game", "Work"}));
}

TEST_F(TrayQuickSwitchTest, AMissingOrDamagedProfileListGivesNoProfiles) {
    EXPECT_TRUE(quick_.profileNames().isEmpty());
    writeIndex("<profiles><profile name=\"Game\"");
    EXPECT_TRUE(quick_.profileNames().isEmpty());
}

}  // namespace
