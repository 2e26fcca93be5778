#pragma once

// The simulated mouse behind the stand-in device library: its identity, its property and memory
// layout, its loader, and the state that persists between runs like the memory of a real device.
// Plain C++17 so that the library builds for Windows as well; shared with the dcsim tool.
//
// Memory map (dcRead/dcWrite addresses, 0x0000-0x3FFF, all zero on a new device):
//   macro slot N (N = 0..29) at 0x1000 + N * 0x100, 200 bytes each:
//   0x1000 0x1100 0x1200 ... 0x2C00 0x2D00 (the key-definition file lists these as "macro0"..).
//
// Properties (dcReadProp/dcWriteProp ids, capacity in bytes, factory value):
//   1..16  buttons, 16 bytes: [function, code, a, b, 0 ...]; function 0x01 = mouse button with
//          code 0x01 left, 0x02 right, 0x04 middle, 0x08 back, 0x10 forward; 0x03 = DPI with
//          code 0x01 up, 0x02 down, 0x03 cycle, 0x04 sniper (a | b << 8 = DPI / 50 while held);
//          0x06 = wheel with code 0x01 up, 0x02 down; all zero = unassigned. Buttons 1-7 are
//          assigned mouse left .. forward, DPI up, DPI down.
//   40     report rate, 1 byte: polling interval in ms (1 = 1000 Hz, 2, 4, 8 = 125 Hz); 1.
//   42     lighting, 10 bytes: mode, brightness, speed, red, green, blue, 3 option bytes, spare.
//   43     debounce, 10 bytes: debounce time in ms, lift-off distance in mm, spare.
//   44     sound, 10 bytes: on/off, volume, spare.
//   48     current DPI level, 1 byte: 0..4.
//   50..54 DPI levels, 8 bytes: [link, x/50 low, x/50 high, y/50 low, y/50 high, 0, 0, 0];
//          400, 800, 1600, 3200, 6400 DPI.
// A read or write covers the first `size` bytes of a property; a size beyond its capacity fails.
//
// Loader: a reboot request makes the mouse re-enumerate as kLoaderId. The loader programs a
// 64 KiB flash the way NOR flash behaves (erase sets every byte to 0xFF, programming can only
// clear bits), verifies an image by the 32-bit sum of its bytes, and starts the firmware only
// when it is valid; at power-up (plug) the loader hands over to valid firmware by itself. An
// erase leaves no valid firmware until a verified image is started (dcFinishUpdateRom), so a
// mouse pulled out before that comes back in its loader. The control tool can arm such a pull
// to happen after a number of written blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "device/vm100_properties.h"

namespace dcsim {

constexpr std::uint32_t kVendorId = 0x04D9;
constexpr std::uint32_t kProductId = 0xA0D2;
constexpr std::uint32_t kLoaderProductId = 0xB0D2;

constexpr char kDeviceName[] = "Quillmere VM100 Gaming Mouse";
constexpr char kLoaderName[] = "Quillmere VM100 Loader";
constexpr char kSerialNumber[] = "VM1A0D2000417";
constexpr char kMask[] = "1";

// Identifiers as Windows spells them for the mouse's vendor-defined HID collection.
constexpr char16_t kDeviceId[] = u"HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000";
constexpr char16_t kDevicePath[] =
    u"\\\\?\\hid#vid_04d9&pid_a0d2&mi_01#7&2a4c1f3e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr char16_t kLoaderId[] = u"HID\\Vid_04d9&Pid_b0d2";
constexpr char16_t kLoaderPath[] =
    u"\\\\?\\hid#vid_04d9&pid_b0d2#6&1b3d5f7a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// The (usage, usage page) of the HID collection the library talks to, per mode.
constexpr std::uint16_t kUsage = 1;
constexpr std::uint16_t kUsagePage = 0xFFA0;
constexpr std::uint16_t kLoaderUsagePage = 0xFFAA;

constexpr int kPropButtonFirst = vm100::kButtonFirst.id;
constexpr int kPropButtonLast = vm100::kButtonLast.id;
constexpr int kButtonSize = vm100::kButtonFirst.size;
constexpr int kPropReportRate = vm100::kReportRate.id;
constexpr int kPropLighting = vm100::kLighting.id;
constexpr int kPropDebounce = vm100::kDebounce.id;
constexpr int kPropSound = vm100::kSound.id;
constexpr int kPropDpiLevel = vm100::kDpiStage.id;
constexpr int kPropDpiFirst = vm100::kDpiFirst.id;
constexpr int kPropDpiLast = vm100::kDpiLast.id;

constexpr int kMemorySize = 0x4000;
constexpr int kMacroSlotCount = 30;
constexpr int kMacroSlotSize = 200;
constexpr int kMacroSlotBase = 0x1000;
constexpr int kMacroSlotStride = 0x100;
constexpr int macroSlotAddress(int slot) {
    return kMacroSlotBase + slot * kMacroSlotStride;
}

constexpr int kFlashSize = 0x10000;
constexpr int kMaxTransfer = 2048;
constexpr std::size_t kReportSize = 8;
constexpr std::size_t kMaxPending = 256;

// Event codes handed to the event callback.
constexpr std::uint16_t kEventRemoved = 1;
constexpr std::uint16_t kEventArrived = 2;

// Results of the device operations; the library returns them unchanged (0 = success).
enum Result : int {
    kOk = 0,
    kBadArgument = 1,
    kNotPresent = 2,
    kUnknownTarget = 3,
    kOutOfRange = 4,
    kWrongMode = 5,
    kProgramFailed = 6,
    kCheckFailed = 7,
    kNoFirmware = 8,
    kInternalError = 9,
};

// Capacity of a property in bytes; 0 for ids the device does not have.
int propertySize(int id);

// The loader's check value: the sum of the bytes, modulo 2^32.
std::uint32_t imageCheck(const std::uint8_t* bytes, std::size_t size);

enum class Mode { Normal, Loader };

// A change queued by the control tool for the running library to deliver.
struct Notification {
    enum class Kind { Plug, Unplug, Report };
    Kind kind = Kind::Report;
    std::array<std::uint8_t, kReportSize> report{};
};

struct DeviceState {
    bool plugged = true;
    Mode mode = Mode::Normal;
    std::map<int, std::vector<std::uint8_t>> properties;
    std::vector<std::uint8_t> memory;
    std::vector<std::uint8_t> flash;
    // The firmware the device runs; `firmwareValid` is false from an erase until a verified
    // image is started.
    bool firmwareValid = true;
    std::uint32_t firmwareSize = 0;
    std::uint32_t firmwareCheck = 0;
    int firmwareRevision = 0;
    // The image verified in the current loader session, installed by dcFinishUpdateRom.
    bool imageVerified = false;
    std::uint32_t verifiedSize = 0;
    std::uint32_t verifiedCheck = 0;
    // Blocks the loader still takes before the mouse is pulled out; 0: no pull is armed.
    int pullAfterBlocks = 0;
    std::deque<Notification> pending;
};

DeviceState factoryState();

std::string versionText(const DeviceState& state);
const char16_t* presentId(const DeviceState& state);
const char16_t* presentPath(const DeviceState& state);

// Property and memory access; the caller has checked that the device is present in normal mode.
int readProperty(const DeviceState& state, int id, std::uint8_t* out, int size);
int writeProperty(DeviceState& state, int id, const std::uint8_t* in, int size);
int readMemory(const DeviceState& state, int address, std::uint8_t* out, int size);
int writeMemory(DeviceState& state, int address, const std::uint8_t* in, int size);

// Loader operations; the caller has checked that the loader is present.
void eraseFlash(DeviceState& state);
// Unplugs the mouse after the block that an armed pull waits for.
int programFlash(DeviceState& state, int offset, const std::uint8_t* in, int length);
int checkImage(DeviceState& state, int size, std::uint32_t check);
int finishUpdate(DeviceState& state);

// Power and mode changes; each returns true when the device changed.
bool plugIn(DeviceState& state);
bool unplug(DeviceState& state);
void enterLoader(DeviceState& state);
// A plain restart: valid firmware runs, otherwise the loader stays.
void restart(DeviceState& state);

// Queues a notification for the running library, dropping the oldest beyond kMaxPending.
void queueNotification(DeviceState& state, const Notification& notification);

// 16 hex digits <-> 8 report bytes.
bool parseReport(const std::string& text, std::array<std::uint8_t, kReportSize>& report);
std::string reportText(const std::array<std::uint8_t, kReportSize>& report);

// The text form of the state file. `parseState` rejects anything it did not write.
std::string serializeState(const DeviceState& state);
bool parseState(const std::string& text, DeviceState& state);

}  // namespace dcsim
