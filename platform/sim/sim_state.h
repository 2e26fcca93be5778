#pragma once

// What the simulated device library's mouse looks like to the system's device services: read
// from the state file the library and the dcsim tool keep. Standard C++ only.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_enumeration.h"
#include "sim/libdc/sim_device.h"

namespace platform {

// VELMORA_SIM_STATE when set, else "dcsim.state" in the application folder, where the library
// keeps it beside itself.
std::filesystem::path simStateFile(const std::string& applicationFolder);

// The simulated mouse as the file last left it. Anything that is not a readable state file
// stands for a new device, as the library takes it. Never writes: the file is the library's.
dcsim::DeviceState readSimState(const std::filesystem::path& file);

// The present devices in this state: a built-in PS/2 keyboard always, and the mouse's USB
// device with its HID children while it is plugged (in loader mode only its loader).
std::vector<PresentDevice> simPresentDevices(const dcsim::DeviceState& state);

// The mouse's USB device interface, or "" while it is unplugged. SetupAPI spells the path in
// lower case; device-change broadcasts name the same interface in upper case.
std::string simUsbInterfacePath(const dcsim::DeviceState& state);
std::string simUsbInterfaceName(const dcsim::DeviceState& state);

// First hardware ids of the simulated mouse's pointing interface and of the built-in PS/2
// keyboard, as the device tree above lists them.
std::string simMouseHardwareId();
std::string simKeyboardHardwareId();

// The hardware id the simulated filter driver reports for a device number: the keyboard on
// device 1, the mouse on device 11, "" for the channels nothing is attached to.
std::string simFilterHardwareId(int device);
constexpr int kSimKeyboardDevice = 1;
constexpr int kSimMouseDevice = 11;

}  // namespace platform
