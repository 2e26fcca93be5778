#pragma once

// The virtual HID device through which macros type and click: keyboard and relative-mouse
// reports written to its control collection. Standard C++ only.

#include <array>
#include <cstdint>
#include <memory>

namespace platform {

constexpr std::size_t kControlReportSize = 65;
using ControlReport = std::array<std::uint8_t, kControlReportSize>;

// The report bytes the device expects (control report id 0x40, inner length, inner report).
// Only the listed bytes are written; the rest keep what `report` held.
inline void fillKeyboardReport(ControlReport& report, std::uint8_t shift,
                               const std::uint8_t keys[6]) {
    report[0] = 0x40;
    report[1] = 0x09;
    report[2] = 0x07;
    report[3] = shift;
    for (int i = 0; i < 6; ++i)
        report[5 + i] = keys[i];
}

inline void fillRelativeMouseReport(ControlReport& report, std::uint8_t buttons, std::int8_t x,
                                    std::int8_t y, std::int8_t wheel) {
    report[0] = 0x40;
    report[1] = 0x05;
    report[2] = 0x04;
    report[3] = buttons;
    report[4] = static_cast<std::uint8_t>(x);
    report[5] = static_cast<std::uint8_t>(y);
    report[6] = static_cast<std::uint8_t>(wheel);
}

// One client of the device (the two collections and the report buffer). Not thread-safe:
// the caller serialises its use.
class VirtualHidClient {
  public:
    virtual ~VirtualHidClient() = default;
    // True when both collections are open.
    virtual bool open() = 0;
    virtual void close() = 0;
    // True when the report was written.
    virtual bool sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) = 0;
    virtual bool sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x, std::int8_t y,
                                         std::int8_t wheel) = 0;
};

class VirtualHid {
  public:
    virtual ~VirtualHid() = default;
    virtual std::unique_ptr<VirtualHidClient> createClient() = 0;
};

}  // namespace platform
