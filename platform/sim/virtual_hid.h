#pragma once

#include <filesystem>
#include <memory>

#include "platform/virtual_hid.h"

namespace platform {

// A virtual HID device that is always attached and records every report written to it, with
// its time, in the reports file (see simInputFiles()). dcsim reads the record.
class SimVirtualHid final : public VirtualHid {
  public:
    // `stateFile`: see simStateFile().
    explicit SimVirtualHid(const std::filesystem::path& stateFile);

    std::unique_ptr<VirtualHidClient> createClient() override;

  private:
    const std::filesystem::path record_;
};

class SimVirtualHidClient final : public VirtualHidClient {
  public:
    explicit SimVirtualHidClient(std::filesystem::path record);

    // False when the record cannot be written.
    bool open() override;
    void close() override;
    bool sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) override;
    bool sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x, std::int8_t y,
                                 std::int8_t wheel) override;

  private:
    bool write();

    const std::filesystem::path record_;
    bool open_ = false;
    // Reused for every report, as the device's client does: bytes a report does not set keep
    // what earlier ones left.
    ControlReport report_{};
};

}  // namespace platform
