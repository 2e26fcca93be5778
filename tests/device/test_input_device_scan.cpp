#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device/device_change.h"
#include "device/devices_handler.h"
#include "platform/device_enumeration.h"
#include "tests/commands/qt_printers.h"
#include "tests/device/fake_library.h"

void PrintTo(const InputDeviceRecord& r, std::ostream* out) {
    *out << '{' << r.path.toStdString() << ", " << r.hardwareId.toStdString() << ", "
         << r.productId.toStdString() << ", " << r.vendorId.toStdString() << ", "
         << r.reserved.toStdString() << ", " << r.type.toStdString() << '}';
}

namespace {

const std::string kMouse = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
const std::string kKeyboard = "{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const std::string kHid = "{745A17A0-74D3-11D0-B6FE-00A0C9140000}";
const std::string kUsbClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kNotFound[] = "Failure: Could not find our HID device \n";

std::string usbPath(const std::string& ids) {
    return "\\\\?\\usb#" + ids + "#5&1&0&1#" + kUsbClass;
}

class RecordingEnumeration : public platform::DeviceEnumeration {
  public:
    bool presentDevices(std::vector<platform::PresentDevice>& out) override {
        ++presentCalls;
        out = devices;
        return devicesAvailable;
    }
    bool usbInterfacePaths(std::vector<std::string>& out) override {
        ++pathCalls;
        out = paths;
        return pathsAvailable;
    }

    std::vector<platform::PresentDevice> devices;
    std::vector<std::string> paths;
    bool devicesAvailable = true;
    bool pathsAvailable = true;
    int presentCalls = 0;
    int pathCalls = 0;
};

class InputDeviceScanTest : public ::testing::Test {
  protected:
    InputDeviceScanTest() : handler(fakeFolder()) { handler.setDeviceEnumeration(&walk); }

    void add(const std::string& instanceId, const std::string& hardwareId,
             const std::string& classGuid) {
        walk.devices.push_back({instanceId, hardwareId, classGuid});
    }

    // Runs the scan with standard output captured into `output`.
    InputDeviceLists scan() {
        testing::internal::CaptureStdout();
        InputDeviceLists lists = handler.scanInputDevices();
        output = testing::internal::GetCapturedStdout();
        return lists;
    }

    RecordingEnumeration walk;
    devices_handler handler;
    std::string output;
};

TEST_F(InputDeviceScanTest, WithoutAWalkOrADeviceSetNothingIsFound) {
    devices_handler bare(fakeFolder());
    EXPECT_TRUE(bare.scanInputDevices().devices.isEmpty());
    EXPECT_TRUE(bare.findVendorInterface(QStringLiteral("04D9A0D2")).isEmpty());

    add("HID\\VID_04D9&PID_A0D2\\1", "HID\\VID_04D9&PID_A0D2", kMouse);
    walk.devicesAvailable = false;
    const InputDeviceLists lists = scan();
    EXPECT_TRUE(lists.devices.isEmpty());
    EXPECT_TRUE(lists.keys.isEmpty());
    EXPECT_EQ(walk.pathCalls, 0);
}

TEST_F(InputDeviceScanTest, UsbMouseIsListedWithItsVendorInterface) {
    walk.paths = {usbPath("vid_1111&pid_2222"), usbPath("vid_04d9&pid_a0d2")};
    add("hid\\vid_04d9&pid_a0d2&mi_00\\7&1b7e&0&0000", "hid\\vid_04d9&pid_a0d2&rev_0100&mi_00",
        kMouse);
    const InputDeviceLists lists = scan();
    ASSERT_EQ(lists.devices.size(), 1);
    const InputDeviceRecord expected{QString::fromStdString(usbPath("vid_04d9&pid_a0d2")),
                                     QStringLiteral("HID\\VID_04D9&PID_A0D2&REV_0100&MI_00"),
                                     QStringLiteral("A0D2"),
                                     QStringLiteral("04D9"),
                                     QString(),
                                     QStringLiteral("mouse")};
    EXPECT_EQ(lists.devices[0], expected);
    EXPECT_EQ(lists.keys, QStringList{QStringLiteral("04D9A0D2")});
    EXPECT_EQ(output, "");
}

TEST_F(InputDeviceScanTest, OnlyTheFirstInterfaceOfACompositeDeviceIsTaken) {
    walk.paths = {usbPath("vid_0001&pid_0001"), usbPath("vid_0002&pid_0002"),
                  usbPath("vid_0003&pid_0003"), usbPath("vid_0004&pid_0004")};
    add("HID\\VID_0001&PID_0001&MI_01\\1", "HID\\VID_0001&PID_0001&MI_01", kKeyboard);
    add("HID\\VID_0001&PID_0001&MI_00\\1", "HID\\VID_0001&PID_0001&MI_00", kKeyboard);
    add("HID\\VID_0002&PID_0002\\1", "HID\\VID_0002&PID_0002", kKeyboard);
    add("HID\\VID_0003&PID_0003&MI_0A\\1", "HID\\VID_0003&PID_0003&MI_0A", kKeyboard);
    add("HID\\VID_0004&PID_0004&MI_2\\1", "HID\\VID_0004&PID_0004&MI_2", kKeyboard);
    const InputDeviceLists lists = scan();
    // The skipped MI_01 interface does not hide the MI_00 one that follows.
    EXPECT_EQ(lists.keys, (QStringList{"00010001", "00020002"}));
    ASSERT_EQ(lists.devices.size(), 2);
    EXPECT_EQ(lists.devices[0].type, "keyboard");
    EXPECT_EQ(lists.devices[0].hardwareId, "HID\\VID_0001&PID_0001&MI_00");
}

TEST_F(InputDeviceScanTest, ADeviceAlreadySeenIsSkipped) {
    walk.paths = {usbPath("vid_04d9&pid_a0d2")};
    add("HID\\VID_04D9&PID_A0D2&MI_00\\1", "HID\\VID_04D9&PID_A0D2&MI_00", kMouse);
    add("HID\\VID_04D9&PID_A0D2\\2", "HID\\VID_04D9&PID_A0D2", kKeyboard);
    // Seen without being listed: no interface was found for it.
    add("HID\\VID_0BAD&PID_0001\\1", "HID\\VID_0BAD&PID_0001", kMouse);
    add("HID\\VID_0BAD&PID_0001\\2", "HID\\VID_0BAD&PID_0001", kMouse);
    add("ACPI\\PNP0303\\1", "ACPI\\PNP0303", kKeyboard);
    // An instance id that the seen text holds.
    add("*PNP0303", "ACPI\\PNP0F13", kMouse);
    const InputDeviceLists lists = scan();
    EXPECT_EQ(lists.keys, (QStringList{"04D9A0D2", "*PNP0303"}));
    EXPECT_EQ(lists.devices.size(), 2);
    EXPECT_EQ(walk.pathCalls, 3);
    EXPECT_EQ(output, std::string(kNotFound) + kNotFound);
}

TEST_F(InputDeviceScanTest, PS2DevicesAreKeyedByTheirClassAndNamedByTheirHardwareId) {
    add("ACPI\\PNP0F13\\4&1&0", "ACPI\\PNP0f13", kMouse);
    add("ACPI\\PNP0303\\4&1&0", "acpi\\PNP0303", kKeyboard);  // not "ACPI\PNP": skipped
    add("ACPI\\PNP0303\\4&2&0", "ACPI\\PNP0303", kKeyboard);
    const InputDeviceLists lists = scan();
    EXPECT_EQ(lists.keys, (QStringList{"*PNP0F0E", "*PNP0303"}));
    ASSERT_EQ(lists.devices.size(), 2);
    EXPECT_EQ(lists.devices[0], (InputDeviceRecord{"ACPI\\PNP0f13", "ACPI\\PNP0F13", "0F0E", "ACPI",
                                                   QString(), "mouse"}));
    EXPECT_EQ(lists.devices[1], (InputDeviceRecord{"ACPI\\PNP0303", "ACPI\\PNP0303", "0303", "ACPI",
                                                   QString(), "keyboard"}));
}

TEST_F(InputDeviceScanTest, OnlyMiceAndKeyboardsWithVendorAndProductIdsCount) {
    walk.paths = {usbPath("vid_04d9&pid_a0d2"), usbPath("vid_04d9&pid_a0d3")};
    add("HID\\VID_04D9&PID_A0D2&MI_01\\1", "HID\\VID_04D9&PID_A0D2&MI_01", kHid);
    add("USB\\VID_04D9&PID_A0D2\\SN", "USB\\VID_04D9&PID_A0D2", "");
    add("HID\\VID_04D9\\1", "HID\\VID_04D9", kMouse);
    add("HID\\PID_A0D3\\1", "HID\\PID_A0D3", kKeyboard);
    add("ACPI\\PNP0C0C\\1", "ACPI\\PNP0C0C", "{4D36E97D-E325-11CE-BFC1-08002BE10318}");
    const InputDeviceLists lists = scan();
    EXPECT_TRUE(lists.devices.isEmpty());
    EXPECT_EQ(walk.pathCalls, 0);
}

TEST_F(InputDeviceScanTest, VendorInterfaceIsMatchedOnItsLowerCaseIdsUpperCased) {
    walk.paths = {"", usbPath("VID_04D9&PID_A0D2"), usbPath("vid_04d9&pid_a0d2") + "#first",
                  usbPath("vid_04D9&pid_a0D2") + "#second", usbPath("vid_0001&pid_0002")};
    EXPECT_EQ(handler.findVendorInterface(QStringLiteral("04D9A0D2")),
              QString::fromStdString(usbPath("vid_04d9&pid_a0d2") + "#first"));
    EXPECT_EQ(handler.findVendorInterface(devices_handler::deviceKey(1, 2)),
              QString::fromStdString(usbPath("vid_0001&pid_0002")));

    testing::internal::CaptureStdout();
    EXPECT_TRUE(handler.findVendorInterface(QStringLiteral("04d9a0d2")).isEmpty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kNotFound);

    // The backend tells of a walk that could not start.
    walk.pathsAvailable = false;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(handler.findVendorInterface(QStringLiteral("04D9A0D2")).isEmpty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

platform::DeviceChange change(platform::DeviceChangeEvent event, const std::string& name,
                              std::uint32_t type = 5) {
    platform::DeviceChange c;
    c.event = event;
    c.deviceType = type;
    c.interfaceName = name;
    return c;
}

const std::string kArrivingName = "\\\\?\\USB#VID_04D9&PID_A0D2#SN#" + kUsbClass;

TEST(DeviceChangeDecision, UnknownUsbInterfacesArePushedWithTheirCode) {
    const QStringList known{QStringLiteral("11112222")};
    DeviceChangeDecision d =
        decideDeviceChange(change(platform::DeviceChangeEvent::Arrival, kArrivingName), known);
    EXPECT_EQ(d.logLine, "DBT_DEVICEARRIVAL case");
    EXPECT_TRUE(d.push);
    EXPECT_EQ(d.code, 2);

    d = decideDeviceChange(change(platform::DeviceChangeEvent::RemoveComplete, kArrivingName),
                           known);
    EXPECT_EQ(d.logLine, "DBT_DEVICEREMOVECOMPLETE case");
    EXPECT_TRUE(d.push);
    EXPECT_EQ(d.code, 1);
}

TEST(DeviceChangeDecision, KnownOrUnrecognisedInterfacesAreOnlyLogged) {
    const QStringList known{QStringLiteral("04D9A0D2")};
    using platform::DeviceChangeEvent;
    EXPECT_FALSE(decideDeviceChange(change(DeviceChangeEvent::Arrival, kArrivingName), known).push);
    EXPECT_FALSE(
        decideDeviceChange(change(DeviceChangeEvent::RemoveComplete, kArrivingName), known).push);
    EXPECT_FALSE(
        decideDeviceChange(change(DeviceChangeEvent::Arrival, "\\\\?\\usb#vid_1234&pid_5678#x"), {})
            .push);
    EXPECT_FALSE(decideDeviceChange(change(DeviceChangeEvent::Arrival, kArrivingName, 3), {}).push);

    // The key is taken as the name spells it.
    const DeviceChangeDecision mixed = decideDeviceChange(
        change(DeviceChangeEvent::Arrival, "\\\\?\\USB#VID_04d9&PID_a0d2#x"), known);
    EXPECT_TRUE(mixed.push);

    const DeviceChangeDecision pending =
        decideDeviceChange(change(DeviceChangeEvent::RemovePending, kArrivingName), {});
    EXPECT_EQ(pending.logLine, "DBT_DEVICEREMOVEPENDING case");
    EXPECT_FALSE(pending.push);
    const DeviceChangeDecision other =
        decideDeviceChange(change(DeviceChangeEvent::Other, kArrivingName), {});
    EXPECT_EQ(other.logLine, "Went to Default case");
    EXPECT_FALSE(other.push);
}

}  // namespace
