#include "platform/win32/device_notifications.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "test_support.h"

using platform::DeviceChange;
using platform::DeviceChangeEvent;

namespace {

constexpr std::size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);

// An interface broadcast as Windows builds it: the name follows the header, its terminator
// included in the size.
std::vector<unsigned char> interfaceBroadcast(const std::wstring& name) {
    std::vector<unsigned char> bytes(kNameOffset + (name.size() + 1) * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    broadcast->dbcc_size = static_cast<DWORD>(bytes.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(broadcast->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return bytes;
}

MSG deviceChange(WPARAM event, const void* broadcast) {
    MSG msg{};
    msg.message = WM_DEVICECHANGE;
    msg.wParam = event;
    msg.lParam = reinterpret_cast<LPARAM>(broadcast);
    return msg;
}

class DeviceNotificationsTest : public testing::Test {
  protected:
    bool decode(const MSG& msg, const char* type = "windows_generic_MSG") {
        return notifications.decode(type, &msg, change);
    }

    platform::Win32DeviceNotifications notifications;
    DeviceChange change;
};

const wchar_t kPath[] =
    L"\\\\?\\USB#VID_1A2B&PID_00C3#5&1d0c#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kPathUtf8[] =
    "\\\\?\\USB#VID_1A2B&PID_00C3#5&1d0c#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

}  // namespace

TEST_F(DeviceNotificationsTest, ArrivalAndRemovalCarryTheInterfaceName) {
    const auto broadcast = interfaceBroadcast(kPath);

    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, broadcast.data())));
    EXPECT_EQ(DeviceChangeEvent::Arrival, change.event);
    EXPECT_EQ(5u, change.deviceType);
    EXPECT_EQ(kPathUtf8, change.interfaceName);

    ASSERT_TRUE(
        decode(deviceChange(DBT_DEVICEREMOVECOMPLETE, broadcast.data()), "windows_dispatcher_MSG"));
    EXPECT_EQ(DeviceChangeEvent::RemoveComplete, change.event);
    EXPECT_EQ(kPathUtf8, change.interfaceName);

    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEREMOVEPENDING, broadcast.data())));
    EXPECT_EQ(DeviceChangeEvent::RemovePending, change.event);
}

TEST_F(DeviceNotificationsTest, InterfaceNameIsUtf8) {
    const auto broadcast = interfaceBroadcast(L"\\\\?\\HID#Souris \u00E9\u8BBE");
    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, broadcast.data())));
    EXPECT_EQ("\\\\?\\HID#Souris \xC3\xA9\xE8\xAE\xBE", change.interfaceName);
}

TEST_F(DeviceNotificationsTest, NameIsReadNoFurtherThanTheStructureSize) {
    auto broadcast = interfaceBroadcast(L"ABCDEFGH");
    auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(broadcast.data());

    header->dbch_size = static_cast<DWORD>(kNameOffset + 3 * sizeof(wchar_t));
    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, broadcast.data())));
    EXPECT_EQ("ABC", change.interfaceName);

    header->dbch_size = sizeof(DEV_BROADCAST_HDR);
    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, broadcast.data())));
    EXPECT_EQ(5u, change.deviceType);
    EXPECT_EQ("", change.interfaceName);
}

TEST_F(DeviceNotificationsTest, OtherDeviceTypesHaveNoName) {
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 0x4;
    change.interfaceName = "left over";

    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, &volume)));
    EXPECT_EQ(DeviceChangeEvent::Arrival, change.event);
    EXPECT_EQ(static_cast<std::uint32_t>(DBT_DEVTYP_VOLUME), change.deviceType);
    EXPECT_EQ("", change.interfaceName);
}

TEST_F(DeviceNotificationsTest, MissingOrForeignParametersAreNotRead) {
    ASSERT_TRUE(decode(deviceChange(DBT_DEVICEARRIVAL, nullptr)));
    EXPECT_EQ(DeviceChangeEvent::Arrival, change.event);
    EXPECT_EQ(0u, change.deviceType);
    EXPECT_EQ("", change.interfaceName);

    // DBT_DEVNODES_CHANGED carries no structure; a stray lParam must not be followed.
    MSG nodes = deviceChange(DBT_DEVNODES_CHANGED, nullptr);
    nodes.lParam = 1;
    ASSERT_TRUE(decode(nodes));
    EXPECT_EQ(DeviceChangeEvent::Other, change.event);
    EXPECT_EQ(0u, change.deviceType);
}

TEST_F(DeviceNotificationsTest, OnlyDeviceChangeMessagesAreDecoded) {
    const auto broadcast = interfaceBroadcast(kPath);
    MSG paint = deviceChange(DBT_DEVICEARRIVAL, broadcast.data());
    paint.message = WM_PAINT;
    EXPECT_FALSE(decode(paint));
    EXPECT_FALSE(decode(deviceChange(DBT_DEVICEARRIVAL, broadcast.data()), "xcb_generic_event_t"));
    EXPECT_FALSE(notifications.decode("windows_generic_MSG", nullptr, change));
}

TEST_F(DeviceNotificationsTest, RegistersRealWindowsOnly) {
    testsupport::TestWindow window(L"notifications");
    ASSERT_NE(nullptr, window.handle());
    EXPECT_TRUE(notifications.registerWindow(window.id()));
    // A second registration replaces the first.
    EXPECT_TRUE(notifications.registerWindow(window.id()));

    EXPECT_FALSE(notifications.registerWindow(0));
    HWND gone = testsupport::TestWindow(L"gone").handle();
    EXPECT_FALSE(notifications.registerWindow(reinterpret_cast<std::uintptr_t>(gone)));
}
