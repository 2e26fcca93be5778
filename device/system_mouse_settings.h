#pragma once

#include <QString>

namespace platform {
class MouseSettings;
}

// The system's mouse settings in the small levels the pages use. Levels without a table row
// are refused without touching the system.
class SystemMouseSettings {
  public:
    explicit SystemMouseSettings(platform::MouseSettings* settings);

    bool setAccelerationLevel(int level);  // 0-3
    bool setSpeedLevel(int level);         // 0-9
    bool setScrollLines(int lines);
    bool setScrollChars(int chars);
    bool setDoubleClickLevel(int level);  // 0-11

    // The report's system half: "defaultMouseAccel:…,defaultScrollLinesX:…,
    // defaultMouseSpeed:…,defaultMouseDoubleClick:…,defaultScrollLinesY:…".
    QString report();

  private:
    platform::MouseSettings* settings_;
};
