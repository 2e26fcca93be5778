#pragma once

#include <string>
#include <vector>

namespace platform {

// One present device of the system's device tree, as the input-device scan reads it.
struct PresentDevice {
    std::string instanceId;  // device instance id, as the system gives it
    std::string hardwareId;  // the first hardware id, or "" when the device has none
    std::string classGuid;   // setup class, upper case with braces: "{4D36E96F-E325-...}"
};

class DeviceEnumeration {
  public:
    virtual ~DeviceEnumeration() = default;

    // Every present device of every class, in the system's order. A device whose instance id
    // cannot be read ends the walk (the devices before it are kept). False when the device
    // set could not be had at all.
    virtual bool presentDevices(std::vector<PresentDevice>& devices) = 0;

    // The device-interface paths of the present USB devices ({A5DCBF10-6530-11D2-901F-
    // 00C04FB951ED}), in the system's order; a path that cannot be read is "". False when
    // the interface set could not be had.
    virtual bool usbInterfacePaths(std::vector<std::string>& paths) = 0;
};

}  // namespace platform
