// Recording device library. FAKE_DC_MINIMAL leaves out every entry point but the event
// registration and the device list; the full variant still lacks the firmware and
// acknowledgement entry points.

#include <algorithm>
#include <cstring>

#include "tests/device/fake_device.h"

namespace {

FakeDevice device;

std::u16string text(const dc::WideChar* value) {
    return value ? std::u16string(value) : u"<null>";
}

FakeCall& record(const char* function, const dc::WideChar* id, const dc::WideChar* path,
                 std::uint32_t channel, int size, int target) {
    device.calls.push_back({function, text(id), text(path), channel, size, target, {}});
    return device.calls.back();
}

}  // namespace

DC_EXPORT FakeDevice* fakeDevice() {
    return &device;
}

DC_EXPORT int dcOnDeviceEvent(dc::DeviceEventCallback* callback) {
    record("dcOnDeviceEvent", nullptr, nullptr, 0, 0, 0);
    device.eventCallback = callback;
    return 0;
}

DC_EXPORT int dcDevices(dc::UsageFilter filter, dc::DeviceListBlock* block, std::uint32_t size) {
    record("dcDevices", nullptr, nullptr, 0, static_cast<int>(size), 0);
    device.lastFilter = filter;
    device.lastBlockSize = size;
    std::memcpy(block, &device.block, sizeof device.block);
    return 0;
}

#ifndef FAKE_DC_MINIMAL

DC_EXPORT int dcDeviceExist(const dc::WideChar* hardwareId) {
    record("dcDeviceExist", hardwareId, nullptr, 0, 0, 0);
    return std::u16string(hardwareId) == u"HID\\VID_1234&PID_5678" ? 0 : 1;
}

DC_EXPORT int dconDeviceData(const dc::WideChar* deviceId, const dc::WideChar* devicePath,
                             std::uint32_t channel, dc::DeviceDataCallback* callback) {
    record("dconDeviceData", deviceId, devicePath, channel, 0, 0);
    device.dataCallback = callback;
    return 0;
}

DC_EXPORT int dcRead(const dc::WideChar* hardwareId, const dc::WideChar* devicePath,
                     std::uint32_t channel, std::uint8_t* buffer, int size, int address) {
    record("dcRead", hardwareId, devicePath, channel, size, address);
    if (address < 0 || size < 0 || address + size > static_cast<int>(device.memory.size()))
        return 1;
    if (device.readResult != 0)
        return device.readResult;
    std::copy_n(device.memory.begin() + address, size, buffer);
    return 0;
}

DC_EXPORT int dcWrite(const dc::WideChar* hardwareId, const dc::WideChar* devicePath,
                      std::uint32_t channel, const std::uint8_t* buffer, int size, int address) {
    record("dcWrite", hardwareId, devicePath, channel, size, address)
        .bytes.assign(buffer, buffer + size);
    if (address < 0 || size < 0 || address + size > static_cast<int>(device.memory.size()))
        return 1;
    if (device.writeResult == 0)
        std::copy_n(buffer, size, device.memory.begin() + address);
    return device.writeResult;
}

DC_EXPORT int dcReadProp(const dc::WideChar* hardwareId, const dc::WideChar* devicePath,
                         std::uint32_t channel, std::uint8_t* buffer, int size, int propertyId) {
    record("dcReadProp", hardwareId, devicePath, channel, size, propertyId);
    const auto it = device.properties.find(propertyId);
    if (it == device.properties.end())
        return 1;
    std::copy_n(it->second.begin(), std::min<std::size_t>(it->second.size(), size), buffer);
    return 0;
}

DC_EXPORT int dcWriteProp(const dc::WideChar* hardwareId, const dc::WideChar* devicePath,
                          std::uint32_t channel, const std::uint8_t* buffer, int size,
                          int propertyId) {
    record("dcWriteProp", hardwareId, devicePath, channel, size, propertyId)
        .bytes.assign(buffer, buffer + size);
    if (device.writeResult == 0)
        device.properties[propertyId].assign(buffer, buffer + size);
    return device.writeResult;
}

#endif
