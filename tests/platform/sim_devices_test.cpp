#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "device/devices_handler.h"
#include "platform/sim/device_enumeration.h"
#include "platform/sim/device_notifications.h"
#include "platform/sim/sim_state.h"
#include "sim/libdc/state_file.h"

namespace fs = std::filesystem;

namespace {

const std::string kMouseClass = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
const std::string kMousePath =
    "\\\\?\\usb#vid_04d9&pid_a0d2#vm1a0d2000417#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const std::string kMouseName =
    "\\\\?\\USB#VID_04D9&PID_A0D2#VM1A0D2000417#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const std::string kLoaderName =
    "\\\\?\\USB#VID_04D9&PID_B0D2#5&2C8E1A2B&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

class SimDevicesTest : public ::testing::Test {
  protected:
    SimDevicesTest()
        : folder(fs::temp_directory_path() /
                 ("simdevices-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          stateFile(folder / "dcsim.state") {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~SimDevicesTest() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void save(bool plugged, dcsim::Mode mode = dcsim::Mode::Normal) {
        dcsim::DeviceState state = dcsim::factoryState();
        state.plugged = plugged;
        state.mode = mode;
        ASSERT_TRUE(dcsim::StateFile(stateFile).save(state));
    }

    const fs::path folder;
    const fs::path stateFile;
};

TEST_F(SimDevicesTest, StateFileIsTheOverrideOrBesideTheLibrary) {
    ::unsetenv("VELMORA_SIM_STATE");
    EXPECT_EQ(platform::simStateFile("/opt/app"), fs::path("/opt/app/dcsim.state"));
    ::setenv("VELMORA_SIM_STATE", "/tmp/other.state", 1);
    EXPECT_EQ(platform::simStateFile("/opt/app"), fs::path("/tmp/other.state"));
    ::setenv("VELMORA_SIM_STATE", "", 1);
    EXPECT_EQ(platform::simStateFile("/opt/app"), fs::path("/opt/app/dcsim.state"));
    ::unsetenv("VELMORA_SIM_STATE");
}

TEST_F(SimDevicesTest, EnumerationFollowsThePluggedState) {
    platform::SimDeviceEnumeration enumeration(stateFile);
    std::vector<platform::PresentDevice> devices;
    std::vector<std::string> paths;

    // No file yet: a new device, plugged in.
    ASSERT_TRUE(enumeration.presentDevices(devices));
    EXPECT_EQ(devices.size(), 4u);
    ASSERT_TRUE(enumeration.usbInterfacePaths(paths));
    EXPECT_EQ(paths, std::vector<std::string>{kMousePath});

    save(false);
    ASSERT_TRUE(enumeration.presentDevices(devices));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].hardwareId, "ACPI\\PNP0303");
    ASSERT_TRUE(enumeration.usbInterfacePaths(paths));
    EXPECT_TRUE(paths.empty());

    save(true, dcsim::Mode::Loader);
    ASSERT_TRUE(enumeration.presentDevices(devices));
    for (const platform::PresentDevice& device : devices)
        EXPECT_NE(device.classGuid, kMouseClass) << device.instanceId;
    ASSERT_TRUE(enumeration.usbInterfacePaths(paths));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_NE(paths[0].find("vid_04d9&pid_b0d2"), std::string::npos);
}

TEST_F(SimDevicesTest, AFileThatIsNoStateStandsForANewDeviceAndIsLeftAlone) {
    {
        std::ofstream out(stateFile);
        out << "not a state file\n";
    }
    platform::SimDeviceEnumeration enumeration(stateFile);
    std::vector<std::string> paths;
    ASSERT_TRUE(enumeration.usbInterfacePaths(paths));
    EXPECT_EQ(paths, std::vector<std::string>{kMousePath});
    EXPECT_TRUE(fs::exists(stateFile));
    EXPECT_FALSE(fs::exists(folder / "dcsim.state.bad"));
}

TEST_F(SimDevicesTest, ScanFindsTheSimulatedMouseAndKeyboard) {
    platform::SimDeviceEnumeration enumeration(stateFile);
    devices_handler handler(QString::fromStdString(folder.string()));
    handler.setDeviceEnumeration(&enumeration);

    ::testing::internal::CaptureStdout();  // the keyboard has no vendor interface
    InputDeviceLists lists = handler.scanInputDevices();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(lists.keys, (QStringList{"*PNP0303", "04D9A0D2"}));
    ASSERT_EQ(lists.devices.size(), 2);
    EXPECT_EQ(lists.devices[1].path.toStdString(), kMousePath);
    EXPECT_EQ(lists.devices[1].hardwareId, "HID\\VID_04D9&PID_A0D2&REV_0100&MI_00");
    EXPECT_EQ(lists.devices[1].type, "mouse");

    save(false);
    ::testing::internal::CaptureStdout();
    lists = handler.scanInputDevices();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(lists.keys, QStringList{"*PNP0303"});
}

// Collects what the watcher reports, and waits (boundedly) for it.
class Recorder {
  public:
    void operator()(const platform::DeviceChange& change) {
        std::lock_guard<std::mutex> lock(mutex_);
        changes_.push_back(change);
        arrived_.notify_all();
    }
    std::vector<platform::DeviceChange> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return changes_.size() >= count; });
        return changes_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<platform::DeviceChange> changes_;
};

void expectChange(const platform::DeviceChange& change, platform::DeviceChangeEvent event,
                  const std::string& name) {
    EXPECT_EQ(change.event, event);
    EXPECT_EQ(change.deviceType, 5u);
    EXPECT_EQ(change.interfaceName, name);
}

TEST_F(SimDevicesTest, PluggingAndUnpluggingReachTheListener) {
    using platform::DeviceChangeEvent;
    save(false);
    Recorder recorder;
    platform::SimDeviceNotifications notifications(stateFile, std::chrono::milliseconds(5));
    notifications.setListener([&recorder](const platform::DeviceChange& c) { recorder(c); });
    ASSERT_TRUE(notifications.registerWindow(0));
    ASSERT_TRUE(notifications.registerWindow(0));  // a second registration changes nothing

    save(true);
    std::vector<platform::DeviceChange> changes = recorder.waitFor(1);
    ASSERT_EQ(changes.size(), 1u);
    expectChange(changes[0], DeviceChangeEvent::Arrival, kMouseName);

    save(false);
    changes = recorder.waitFor(2);
    ASSERT_EQ(changes.size(), 2u);
    expectChange(changes[1], DeviceChangeEvent::RemoveComplete, kMouseName);

    // A restart into the loader is one device leaving and another arriving.
    save(true);
    recorder.waitFor(3);
    save(true, dcsim::Mode::Loader);
    changes = recorder.waitFor(5);
    ASSERT_EQ(changes.size(), 5u);
    expectChange(changes[3], DeviceChangeEvent::RemoveComplete, kMouseName);
    expectChange(changes[4], DeviceChangeEvent::Arrival, kLoaderName);

    platform::DeviceChange unused;
    EXPECT_FALSE(notifications.decode("xcb_generic_event_t", nullptr, unused));
}

}  // namespace
