#include "platform/win32/device_enumeration.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <gtest/gtest.h>

#include <cctype>
#include <regex>

#include "platform/win32/text.h"

using platform::PresentDevice;
using platform::win32::toUtf8;
using platform::win32::toWide;

namespace {

// A registry text property read in one go with a generous buffer, or "" when absent.
std::string textProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[4096] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 4,
                                           nullptr)) {
        return {};
    }
    return toUtf8(text);
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

// Wine lists a handful of virtual devices (its HID bus among them); exact counts differ
// between versions, so this looks at the shape of what comes back and checks each device
// against the system's own records.
TEST(DeviceEnumerationTest, PresentDevicesAreRealDevicesOfTheSystem) {
    platform::Win32DeviceEnumeration enumeration;
    std::vector<PresentDevice> devices(1);  // stale entries go
    ASSERT_TRUE(enumeration.presentDevices(devices));
    ASSERT_FALSE(devices.empty());

    const std::regex guidForm("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
    HDEVINFO opened = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, opened);
    bool anyHardwareId = false;
    for (const auto& device : devices) {
        SCOPED_TRACE(device.instanceId);
        EXPECT_TRUE(std::regex_match(device.classGuid, guidForm)) << device.classGuid;
        anyHardwareId = anyHardwareId || !device.hardwareId.empty();

        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(
            SetupDiOpenDeviceInfoW(opened, toWide(device.instanceId).c_str(), nullptr, 0, &info));
        // The first entry of the hardware-id list, nothing of the next one.
        EXPECT_EQ(textProperty(opened, info, SPDRP_HARDWAREID), device.hardwareId);
        const std::string registeredClass = textProperty(opened, info, SPDRP_CLASSGUID);
        if (!registeredClass.empty()) {
            EXPECT_EQ(upper(registeredClass), device.classGuid);
        }
    }
    EXPECT_TRUE(anyHardwareId);
    SetupDiDestroyDeviceInfoList(opened);
}

TEST(DeviceEnumerationTest, UsbInterfacePathsAreDevicePaths) {
    platform::Win32DeviceEnumeration enumeration;
    std::vector<std::string> paths{"stale"};
    ASSERT_TRUE(enumeration.usbInterfacePaths(paths));
    for (const auto& path : paths) {
        EXPECT_EQ(0u, path.rfind("\\\\?\\", 0)) << path;
    }
}
