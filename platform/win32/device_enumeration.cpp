#include "platform/win32/device_enumeration.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "platform/win32/text.h"
#include "platform/win32/usb_interface_class.h"

namespace platform {

namespace {

constexpr DWORD kInstanceIdBufferSize = 520;

class DeviceSet {
  public:
    explicit DeviceSet(HDEVINFO set) : set_(set) {}
    ~DeviceSet() {
        if (valid()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

std::string firstHardwareId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    constexpr int kAttempts = 8;  // the value may grow between calls, but not forever
    BYTE* buffer = nullptr;
    DWORD allocated = 0;
    DWORD required = 0;
    bool read = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, buffer,
                                              allocated, &required)) {
            read = true;
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        if (buffer != nullptr) {
            LocalFree(buffer);
        }
        // Zero-filled and one character longer, so the text ends even if the value does not.
        allocated = required + sizeof(wchar_t);
        buffer = static_cast<BYTE*>(LocalAlloc(LPTR, allocated));
        if (buffer == nullptr) {
            break;
        }
    }
    std::string id;
    if (read && buffer != nullptr) {
        const auto* text = reinterpret_cast<const wchar_t*>(buffer);
        id = win32::toUtf8(text, wcsnlen(text, allocated / sizeof(wchar_t)));
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return id;
}

std::string interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &entry, nullptr, 0, &size, nullptr);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
        return {};
    }
    // One spare character keeps the path terminated whatever the call leaves behind.
    const DWORD allocated = size + sizeof(wchar_t);
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, allocated));
    if (detail == nullptr) {
        std::printf("Error: OpenDeviceInterface: malloc failed\n");
        return {};
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    std::string path;
    if (SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, size, nullptr, nullptr)) {
        const std::size_t capacity =
            (allocated - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        path = win32::toUtf8(detail->DevicePath, wcsnlen(detail->DevicePath, capacity));
    } else {
        std::printf("Error: SetupDiGetInterfaceDeviceDetail failed\n");
    }
    std::free(detail);
    return path;
}

}  // namespace

bool Win32DeviceEnumeration::presentDevices(std::vector<PresentDevice>& devices) {
    devices.clear();
    DeviceSet set(
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set.valid()) {
        return false;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        wchar_t instanceId[kInstanceIdBufferSize] = {};
        if (!SetupDiGetDeviceInstanceIdW(set.get(), &device, instanceId, kInstanceIdBufferSize,
                                         nullptr)) {
            break;
        }
        PresentDevice present;
        present.instanceId = win32::toUtf8(instanceId, wcsnlen(instanceId, kInstanceIdBufferSize));
        present.hardwareId = firstHardwareId(set.get(), device);
        present.classGuid = win32::guidText(device.ClassGuid);
        devices.push_back(std::move(present));
    }
    return true;
}

bool Win32DeviceEnumeration::usbInterfacePaths(std::vector<std::string>& paths) {
    paths.clear();
    DeviceSet set(SetupDiGetClassDevsW(&win32::kUsbDeviceInterfaceClass, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        std::printf("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(
             set.get(), nullptr, &win32::kUsbDeviceInterfaceClass, index, &entry);
         ++index) {
        paths.push_back(interfacePath(set.get(), entry));
    }
    return true;
}

}  // namespace platform
