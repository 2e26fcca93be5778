#include "platform/win32/mouse_settings.h"

#include <cstdint>
#include <utility>

namespace platform {

namespace {

// A value the call takes in its pointer-sized argument rather than through a pointer.
PVOID byValue(std::uintptr_t value) {
    return reinterpret_cast<PVOID>(value);
}

}  // namespace

Win32MouseSettings::Win32MouseSettings(win32::MouseSettingsCalls calls)
    : calls_(std::move(calls)) {}

bool Win32MouseSettings::setMouse(const std::array<int, 3>& values) {
    int copy[3] = {values[0], values[1], values[2]};
    return calls_.systemParametersInfo(SPI_SETMOUSE, 0, copy, SPIF_UPDATEINIFILE) != FALSE;
}

bool Win32MouseSettings::getMouse(std::array<int, 3>& values) {
    int read[3] = {};
    if (!calls_.systemParametersInfo(SPI_GETMOUSE, 0, read, 0)) {
        return false;
    }
    values = {read[0], read[1], read[2]};
    return true;
}

bool Win32MouseSettings::setMouseSpeed(int speed) {
    return calls_.systemParametersInfo(SPI_SETMOUSESPEED, 0,
                                       byValue(static_cast<std::uintptr_t>(speed)),
                                       SPIF_UPDATEINIFILE) != FALSE;
}

bool Win32MouseSettings::getMouseSpeed(int& speed) {
    return calls_.systemParametersInfo(SPI_GETMOUSESPEED, 0, &speed, 0) != FALSE;
}

bool Win32MouseSettings::setWheelScrollLines(unsigned lines) {
    return calls_.systemParametersInfo(SPI_SETWHEELSCROLLLINES, lines, byValue(lines),
                                       SPIF_UPDATEINIFILE) != FALSE;
}

bool Win32MouseSettings::getWheelScrollLines(unsigned& lines) {
    UINT read = 0;
    if (!calls_.systemParametersInfo(SPI_GETWHEELSCROLLLINES, 0, &read, 0)) {
        return false;
    }
    lines = read;
    return true;
}

bool Win32MouseSettings::setWheelScrollChars(unsigned chars) {
    return calls_.systemParametersInfo(SPI_SETWHEELSCROLLCHARS, chars, byValue(chars),
                                       SPIF_UPDATEINIFILE) != FALSE;
}

bool Win32MouseSettings::getWheelScrollChars(unsigned& chars) {
    UINT read = 0;
    if (!calls_.systemParametersInfo(SPI_GETWHEELSCROLLCHARS, 0, &read, 0)) {
        return false;
    }
    chars = read;
    return true;
}

bool Win32MouseSettings::setDoubleClickTime(unsigned milliseconds) {
    return calls_.setDoubleClickTime(milliseconds) != FALSE;
}

unsigned Win32MouseSettings::doubleClickTime() {
    return calls_.getDoubleClickTime();
}

}  // namespace platform
