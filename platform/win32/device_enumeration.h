#pragma once

#include "platform/device_enumeration.h"

namespace platform {

class Win32DeviceEnumeration final : public DeviceEnumeration {
  public:
    bool presentDevices(std::vector<PresentDevice>& devices) override;
    bool usbInterfacePaths(std::vector<std::string>& paths) override;
};

}  // namespace platform
