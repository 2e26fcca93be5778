#pragma once

#include <filesystem>

#include "platform/device_enumeration.h"

namespace platform {

// The present devices of a machine whose only pointing device is the simulated mouse: it
// follows the state file on every call, so plugging it with dcsim shows at the next walk.
class SimDeviceEnumeration final : public DeviceEnumeration {
  public:
    // `stateFile`: see simStateFile().
    explicit SimDeviceEnumeration(std::filesystem::path stateFile);

    bool presentDevices(std::vector<PresentDevice>& devices) override;
    bool usbInterfacePaths(std::vector<std::string>& paths) override;

  private:
    const std::filesystem::path stateFile_;
};

}  // namespace platform
