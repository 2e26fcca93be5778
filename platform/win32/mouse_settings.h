#pragma once

#include <windows.h>

#include <functional>

#include "platform/mouse_settings.h"

namespace platform {

namespace win32 {

// The system calls behind the settings; tests may watch them.
struct MouseSettingsCalls {
    std::function<BOOL(UINT, UINT, PVOID, UINT)> systemParametersInfo = SystemParametersInfoW;
    std::function<BOOL(UINT)> setDoubleClickTime = SetDoubleClickTime;
    std::function<UINT()> getDoubleClickTime = GetDoubleClickTime;
};

}  // namespace win32

// Every change is written to the user profile (SPIF_UPDATEINIFILE).
class Win32MouseSettings final : public MouseSettings {
  public:
    explicit Win32MouseSettings(win32::MouseSettingsCalls calls = {});

    bool setMouse(const std::array<int, 3>& values) override;
    bool getMouse(std::array<int, 3>& values) override;
    bool setMouseSpeed(int speed) override;
    bool getMouseSpeed(int& speed) override;
    bool setWheelScrollLines(unsigned lines) override;
    bool getWheelScrollLines(unsigned& lines) override;
    bool setWheelScrollChars(unsigned chars) override;
    bool getWheelScrollChars(unsigned& chars) override;
    bool setDoubleClickTime(unsigned milliseconds) override;
    unsigned doubleClickTime() override;

  private:
    win32::MouseSettingsCalls calls_;
};

}  // namespace platform
