#include "platform/sim/sim_state.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr char kStateFileName[] = "dcsim.state";
// A real state file holds a few hundred kilobytes at most; anything far beyond is not one.
constexpr std::uintmax_t kMaxStateFileSize = 4u << 20;

constexpr char kMouseClass[] = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kKeyboardClass[] = "{4D36E96B-E325-11CE-BFC1-08002BE10318}";
constexpr char kHidClass[] = "{745A17A0-74D3-11D0-B6FE-00A0C9140000}";
constexpr char kUsbClass[] = "{36FC9E60-C465-11CF-8056-444553540000}";
constexpr char kUsbInterfaceClass[] = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// The USB device's instance part: its serial number, which the loader does not report.
constexpr char kLoaderUsbInstance[] = "5&2C8E1A2B&0&3";

std::string vendorAndProduct(std::uint32_t productId) {
    char text[32];
    std::snprintf(text, sizeof text, "VID_%04X&PID_%04X", static_cast<unsigned>(dcsim::kVendorId),
                  static_cast<unsigned>(productId));
    return text;
}

std::string toUpper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string toLower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string narrow(const char16_t* text) {
    std::string result;
    for (; *text; ++text)
        result.push_back(static_cast<char>(*text));
    return result;
}

bool normal(const dcsim::DeviceState& state) {
    return state.mode == dcsim::Mode::Normal;
}

// "VID_04D9&PID_A0D2#VM1A0D2000417" in the case the broadcast uses.
std::string usbDeviceName(const dcsim::DeviceState& state) {
    return normal(state) ? vendorAndProduct(dcsim::kProductId) + "#" + toUpper(dcsim::kSerialNumber)
                         : vendorAndProduct(dcsim::kLoaderProductId) + "#" + kLoaderUsbInstance;
}

}  // namespace

fs::path simStateFile(const std::string& applicationFolder) {
    if (const char* overridden = std::getenv("VELMORA_SIM_STATE"); overridden && *overridden)
        return fs::path(overridden);
    return fs::path(applicationFolder) / kStateFileName;
}

dcsim::DeviceState readSimState(const fs::path& file) {
    try {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(file, ec);
        if (ec || size > kMaxStateFileSize)
            return dcsim::factoryState();
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return dcsim::factoryState();
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        dcsim::DeviceState state;
        if (in.bad() || !dcsim::parseState(text, state))
            return dcsim::factoryState();
        return state;
    } catch (const std::exception&) {
        return dcsim::factoryState();
    }
}

std::vector<PresentDevice> simPresentDevices(const dcsim::DeviceState& state) {
    std::vector<PresentDevice> devices;
    devices.push_back({"ACPI\\PNP0303\\4&1D401FB5&0", simKeyboardHardwareId(), kKeyboardClass});
    if (!state.plugged)
        return devices;
    if (normal(state)) {
        const std::string ids = vendorAndProduct(dcsim::kProductId);
        devices.push_back({"USB\\" + ids + "\\" + toUpper(dcsim::kSerialNumber),
                           "USB\\" + ids + "&REV_0100", kUsbClass});
        devices.push_back(
            {"HID\\" + ids + "&MI_00\\7&1B7E4C2A&0&0000", simMouseHardwareId(), kMouseClass});
        // The vendor-defined collection the device library talks to.
        devices.push_back({narrow(dcsim::kDeviceId), "HID\\" + ids + "&REV_0100&MI_01", kHidClass});
    } else {
        const std::string ids = vendorAndProduct(dcsim::kLoaderProductId);
        devices.push_back(
            {"USB\\" + ids + "\\" + kLoaderUsbInstance, "USB\\" + ids + "&REV_0001", kUsbClass});
        devices.push_back(
            {"HID\\" + ids + "\\6&1B3D5F7A&0&0000", "HID\\" + ids + "&REV_0001", kHidClass});
    }
    return devices;
}

std::string simMouseHardwareId() {
    return "HID\\" + vendorAndProduct(dcsim::kProductId) + "&REV_0100&MI_00";
}

std::string simKeyboardHardwareId() {
    return "ACPI\\PNP0303";
}

std::string simFilterHardwareId(int device) {
    switch (device) {
        case kSimKeyboardDevice:
            return simKeyboardHardwareId();
        case kSimMouseDevice:
            return simMouseHardwareId();
        default:
            return {};
    }
}

std::string simUsbInterfacePath(const dcsim::DeviceState& state) {
    if (!state.plugged)
        return {};
    return "\\\\?\\usb#" + toLower(usbDeviceName(state)) + "#" + kUsbInterfaceClass;
}

std::string simUsbInterfaceName(const dcsim::DeviceState& state) {
    if (!state.plugged)
        return {};
    return "\\\\?\\USB#" + usbDeviceName(state) + "#" + kUsbInterfaceClass;
}

}  // namespace platform
