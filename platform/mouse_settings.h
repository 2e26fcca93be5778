#pragma once

// The system's own mouse settings (Windows: SystemParametersInfoW and the double-click time).
// Each call reports whether the system took it. Standard C++ only.

#include <array>

namespace platform {

class MouseSettings {
  public:
    virtual ~MouseSettings() = default;

    // SPI_SETMOUSE / SPI_GETMOUSE: first threshold, second threshold, acceleration.
    virtual bool setMouse(const std::array<int, 3>& values) = 0;
    virtual bool getMouse(std::array<int, 3>& values) = 0;
    // SPI_SETMOUSESPEED / SPI_GETMOUSESPEED: 1-20.
    virtual bool setMouseSpeed(int speed) = 0;
    virtual bool getMouseSpeed(int& speed) = 0;
    // SPI_SETWHEELSCROLLLINES / SPI_GETWHEELSCROLLLINES.
    virtual bool setWheelScrollLines(unsigned lines) = 0;
    virtual bool getWheelScrollLines(unsigned& lines) = 0;
    // SPI_SETWHEELSCROLLCHARS / SPI_GETWHEELSCROLLCHARS.
    virtual bool setWheelScrollChars(unsigned chars) = 0;
    virtual bool getWheelScrollChars(unsigned& chars) = 0;
    // SetDoubleClickTime / GetDoubleClickTime, milliseconds.
    virtual bool setDoubleClickTime(unsigned milliseconds) = 0;
    virtual unsigned doubleClickTime() = 0;
};

}  // namespace platform
