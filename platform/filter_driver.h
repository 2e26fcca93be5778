#pragma once

// The keyboard/mouse filter driver: twenty device channels, 1-10 keyboards and 11-20 mice,
// through which strokes of chosen devices are captured, read and passed on. Standard C++ only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

constexpr int kFilterDeviceCount = 20;

struct KeyStroke {
    std::uint16_t code = 0;   // scan code
    std::uint16_t state = 0;  // bit 0: up, bit 1: extended (E0)
    std::uint32_t information = 0;
};

struct MouseStroke {
    std::uint16_t state = 0;  // button flags
    std::uint16_t flags = 0;  // movement flags
    std::int16_t rolling = 0;  // wheel data
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t information = 0;
};

// One stroke; the device number says which member is meant.
union Stroke {
    KeyStroke key;
    MouseStroke mouse;
    Stroke() : mouse() {}
};

inline bool isKeyboardDevice(int device) {
    return device >= 1 && device <= 10;
}
inline bool isMouseDevice(int device) {
    return device >= 11 && device <= 20;
}

// The driver's twenty channels, open. Used by one thread, except wake().
class FilterContext {
  public:
    virtual ~FilterContext() = default;

    // Sends the filter mask to every device the predicate accepts.
    virtual void setStrokeFilter(const std::function<bool(int device)>& predicate,
                                 std::uint16_t mask) = 0;
    // Blocks until a device has a stroke waiting: its number, or 0 when the wait failed.
    virtual int waitForStroke() = 0;
    // Strokes accepted by the driver / read from it; 0 for a device outside 1-20.
    virtual int sendStrokes(int device, const Stroke* strokes, int count) = 0;
    virtual int receiveStrokes(int device, Stroke* strokes, int capacity) = 0;
    // The device's hardware id as a zero-terminated UTF-16 string in `buffer`; the bytes
    // written, 0 on failure.
    virtual std::size_t readHardwareId(int device, void* buffer, std::size_t size) = 0;
    // Any thread: makes a waiting (or the next) waitForStroke return with a device whose
    // receive then yields nothing, so the reading loop ends.
    virtual void wake() = 0;
};

class FilterDriver {
  public:
    virtual ~FilterDriver() = default;
    // The context with all twenty channels, or null when the driver is not there.
    virtual std::unique_ptr<FilterContext> open() = 0;
};

}  // namespace platform
