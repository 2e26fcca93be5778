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

}  // namespace platform
