#pragma once

// A recording stand-in for the device library, built as "libdc" into folders of its own. The
// tests reach its state through the exported fakeDevice().

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/dc_api.h"

struct FakeCall {
    std::string function;
    std::u16string hardwareId;
    std::u16string devicePath;
    std::uint32_t channel = 0;
    int size = 0;
    int target = 0;                   // address, property id or offset
    std::vector<std::uint8_t> bytes;  // what was written
};

struct FakeDevice {
    std::vector<FakeCall> calls;
    std::map<int, std::vector<std::uint8_t>> properties;
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(0x10000);
    dc::DeviceListBlock block{};
    dc::UsageFilter lastFilter{};
    std::uint32_t lastBlockSize = 0;
    int writeResult = 0;
    // A read answering anything but 0 leaves the caller's buffer untouched.
    int readResult = 0;
    // The variables the binding handed over, as given.
    dc::DeviceEventCallback* eventCallback = nullptr;
    dc::DeviceDataCallback* dataCallback = nullptr;

    void clear() { *this = FakeDevice(); }
    int count(const std::string& function) const {
        int n = 0;
        for (const FakeCall& call : calls)
            n += call.function == function;
        return n;
    }
};

using FakeDeviceFn = FakeDevice* (*)();
