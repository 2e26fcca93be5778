#include "platform/sim/device_enumeration.h"

#include <utility>

#include "platform/sim/sim_state.h"

namespace platform {

SimDeviceEnumeration::SimDeviceEnumeration(std::filesystem::path stateFile)
    : stateFile_(std::move(stateFile)) {}

bool SimDeviceEnumeration::presentDevices(std::vector<PresentDevice>& devices) {
    devices = simPresentDevices(readSimState(stateFile_));
    return true;
}

bool SimDeviceEnumeration::usbInterfacePaths(std::vector<std::string>& paths) {
    paths.clear();
    const std::string path = simUsbInterfacePath(readSimState(stateFile_));
    if (!path.empty())
        paths.push_back(path);
    return true;
}

}  // namespace platform
