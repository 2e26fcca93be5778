#include "platform/win32/mouse_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A text value of the user profile, "" when absent.
std::wstring profileValue(const wchar_t* key, const wchar_t* name) {
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return value;
}

const wchar_t kMouseKey[] = L"Control Panel\\Mouse";
const wchar_t kDesktopKey[] = L"Control Panel\\Desktop";

// Works on the real settings of the (test) session and puts them back afterwards.
class MouseSettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSE, 0, savedMouse_, 0));
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETMOUSESPEED, 0, &savedSpeed_, 0));
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &savedLines_, 0));
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETWHEELSCROLLCHARS, 0, &savedChars_, 0));
        savedDoubleClick_ = GetDoubleClickTime();
    }

    void TearDown() override {
        SystemParametersInfoW(SPI_SETMOUSE, 0, savedMouse_, SPIF_UPDATEINIFILE);
        SystemParametersInfoW(SPI_SETMOUSESPEED, 0,
                              reinterpret_cast<PVOID>(static_cast<INT_PTR>(savedSpeed_)),
                              SPIF_UPDATEINIFILE);
        SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, savedLines_, nullptr, SPIF_UPDATEINIFILE);
        SystemParametersInfoW(SPI_SETWHEELSCROLLCHARS, savedChars_, nullptr, SPIF_UPDATEINIFILE);
        SetDoubleClickTime(savedDoubleClick_);
    }

    platform::Win32MouseSettings settings;

  private:
    int savedMouse_[3] = {};
    int savedSpeed_ = 0;
    UINT savedLines_ = 0;
    UINT savedChars_ = 0;
    UINT savedDoubleClick_ = 0;
};

}  // namespace

TEST_F(MouseSettingsTest, AccelerationIsSetReadAndStoredInTheProfile) {
    for (const std::array<int, 3> values :
         {std::array<int, 3>{7, 0, 1}, {4, 6, 2}, {4, 0, 1}, {0, 0, 0}}) {
        SCOPED_TRACE(values[0] * 100 + values[1] * 10 + values[2]);
        ASSERT_TRUE(settings.setMouse(values));
        std::array<int, 3> read = {-1, -1, -1};
        ASSERT_TRUE(settings.getMouse(read));
        EXPECT_EQ(values, read);
        EXPECT_EQ(std::to_wstring(values[0]), profileValue(kMouseKey, L"MouseThreshold1"));
        EXPECT_EQ(std::to_wstring(values[1]), profileValue(kMouseKey, L"MouseThreshold2"));
        EXPECT_EQ(std::to_wstring(values[2]), profileValue(kMouseKey, L"MouseSpeed"));
    }
}

TEST_F(MouseSettingsTest, WheelScrollLinesAndCharactersAreSetReadAndStored) {
    for (const unsigned count : {7u, 1u}) {
        SCOPED_TRACE(count);
        ASSERT_TRUE(settings.setWheelScrollLines(count));
        unsigned lines = 0;
        ASSERT_TRUE(settings.getWheelScrollLines(lines));
        EXPECT_EQ(count, lines);
        EXPECT_EQ(std::to_wstring(count), profileValue(kDesktopKey, L"WheelScrollLines"));

        ASSERT_TRUE(settings.setWheelScrollChars(count + 1));
        unsigned chars = 0;
        ASSERT_TRUE(settings.getWheelScrollChars(chars));
        EXPECT_EQ(count + 1, chars);
        EXPECT_EQ(std::to_wstring(count + 1), profileValue(kDesktopKey, L"WheelScrollChars"));
    }
}

TEST_F(MouseSettingsTest, DoubleClickTimeIsSetAndRead) {
    for (const unsigned milliseconds : {550u, 970u, 200u}) {
        ASSERT_TRUE(settings.setDoubleClickTime(milliseconds));
        EXPECT_EQ(milliseconds, settings.doubleClickTime());
    }
}

TEST_F(MouseSettingsTest, PointerSpeedIsSetAndRead) {
    if (underWine()) {
        GTEST_SKIP() << "Wine takes the new pointer speed from the wrong argument";
    }
    for (const int speed : {12, 6, 15}) {
        ASSERT_TRUE(settings.setMouseSpeed(speed));
        int read = 0;
        ASSERT_TRUE(settings.getMouseSpeed(read));
        EXPECT_EQ(speed, read);
    }
}

// What Windows itself expects of the pointer speed call, which Wine cannot check.
TEST(MouseSettingsCallTest, PointerSpeedTravelsInThePointerSizedArgument) {
    struct Call {
        UINT action;
        UINT uiParam;
        PVOID pvParam;
        UINT winIni;
    };
    std::vector<Call> calls;
    platform::win32::MouseSettingsCalls fake;
    fake.systemParametersInfo = [&](UINT action, UINT uiParam, PVOID pvParam, UINT winIni) {
        calls.push_back({action, uiParam, pvParam, winIni});
        return TRUE;
    };
    platform::Win32MouseSettings settings(fake);
    ASSERT_TRUE(settings.setMouseSpeed(14));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(113u, calls[0].action);
    EXPECT_EQ(0u, calls[0].uiParam);
    EXPECT_EQ(reinterpret_cast<PVOID>(14), calls[0].pvParam);
    EXPECT_EQ(1u, calls[0].winIni);
}

TEST(MouseSettingsCallTest, FailedReadsLeaveTheCallersValues) {
    platform::win32::MouseSettingsCalls fake;
    fake.systemParametersInfo = [](UINT, UINT, PVOID, UINT) { return FALSE; };
    platform::Win32MouseSettings settings(fake);
    int speed = 10;
    EXPECT_FALSE(settings.getMouseSpeed(speed));
    EXPECT_EQ(10, speed);
    unsigned lines = 3;
    EXPECT_FALSE(settings.getWheelScrollLines(lines));
    EXPECT_EQ(3u, lines);
    unsigned chars = 0;
    EXPECT_FALSE(settings.getWheelScrollChars(chars));
    EXPECT_EQ(0u, chars);
    std::array<int, 3> mouse = {1, 2, 3};
    EXPECT_FALSE(settings.getMouse(mouse));
    EXPECT_EQ((std::array<int, 3>{1, 2, 3}), mouse);
    EXPECT_FALSE(settings.setMouse({0, 0, 0}));
    EXPECT_FALSE(settings.setWheelScrollLines(3));
}
