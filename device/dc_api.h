#pragma once

// The call shapes of the maker's device-communication library "libdc", loaded at run time.
// Plain C++ without Qt: the simulated library and the Windows build include it too.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define DC_EXPORT extern "C" __declspec(dllexport)
#else
#define DC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace dc {

// Wide texts are UTF-16, as the library's Windows wide strings are, on every platform.
using WideChar = char16_t;

// The channel value every device call passes after the hardware id and the device path.
constexpr std::uint32_t kLibraryChannel = 4118;  // 0x1016
constexpr int kTransferBufferSize = 2048;
constexpr int kMaxDeviceEntries = 20;

#pragma pack(push, 1)
struct UsagePair {
    std::uint16_t usage;
    std::uint16_t usagePage;
};

struct UsageFilter {
    UsagePair pairs[20];
};

struct DeviceEntry {
    char name[40];
    char version[17];
    char sn[14];
    char mask[2];
    std::uint32_t vendorId;
    std::uint32_t productId;
    std::uint8_t reserved[1004];
    WideChar devicePath[255];
    WideChar deviceId[255];
};

struct DeviceListBlock {
    std::uint16_t count;
    DeviceEntry entries[kMaxDeviceEntries];
};
#pragma pack(pop)

static_assert(sizeof(UsageFilter) == 80, "UsageFilter layout");
static_assert(offsetof(DeviceEntry, vendorId) == 73, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, devicePath) == 1085, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, deviceId) == 1595, "DeviceEntry layout");
static_assert(sizeof(DeviceEntry) == 2105, "DeviceEntry layout");
static_assert(sizeof(DeviceListBlock) == 42102, "DeviceListBlock layout");

// Callbacks return true. The event callback receives a 16-bit event code; the data callback's
// first argument points to a pointer to 8 report bytes, its second is unused.
using DeviceEventCallback = bool (*)(std::uint16_t code);
using DeviceDataCallback = bool (*)(const std::uint8_t** data, void* unused);

// Entry points, in the order the binding resolves them.
using DeviceExistFn = int (*)(const WideChar* hardwareId);
using DevicesFn = int (*)(UsageFilter filter, DeviceListBlock* block, std::uint32_t size);
using OnDeviceEventFn = int (*)(DeviceEventCallback* callback);
using OnDeviceDataFn = int (*)(const WideChar* deviceId, const WideChar* devicePath,
                               std::uint32_t channel, DeviceDataCallback* callback);
using AskFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                      std::uint32_t channel);
using ResetFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                        std::uint32_t channel, std::uint16_t mode, std::uint8_t* status,
                        int reserved);
using NotifyFn = AskFn;
using ReadFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                       std::uint32_t channel, std::uint8_t* buffer, int size, int address);
using WriteFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                        std::uint32_t channel, const std::uint8_t* buffer, int size, int address);
using ReadPropFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                           std::uint32_t channel, std::uint8_t* buffer, int size, int propertyId);
using WritePropFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                            std::uint32_t channel, const std::uint8_t* buffer, int size,
                            int propertyId);
using ScriptOutFn = AskFn;
using IDWriteFn = AskFn;
using RebootRomFn = AskFn;
using FinishUpdateRomFn = AskFn;
using CheckRomFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                           std::uint32_t channel, int size, std::uint32_t check);
using BornRomFn = int (*)(const WideChar* hardwareId, const WideChar* devicePath,
                          std::uint32_t channel, const std::uint8_t* buffer, int length,
                          int offset);
using EraseRomFn = AskFn;

}  // namespace dc
