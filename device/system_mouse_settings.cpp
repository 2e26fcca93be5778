#include "device/system_mouse_settings.h"

#include <array>

#include "platform/mouse_settings.h"

namespace {

constexpr std::array<std::array<int, 3>, 4> kAccelerationSet = {{
    {0, 0, 0},
    {7, 0, 1},
    {4, 6, 2},
    {4, 0, 1},
}};

// Only the third value of a row is compared.
constexpr std::array<int, 10> kAccelerationReport = {0, 1, 4, 6, 3, 5, 8, 9, 2, 7};

constexpr std::array<unsigned, 10> kDoubleClickReport = {970, 890, 780, 650, 550,
                                                         480, 410, 340, 270, 200};

}  // namespace

SystemMouseSettings::SystemMouseSettings(platform::MouseSettings* settings) : settings_(settings) {}

bool SystemMouseSettings::setAccelerationLevel(int level) {
    if (!settings_ || level < 0 || level >= int(kAccelerationSet.size()))
        return false;
    return settings_->setMouse(kAccelerationSet[size_t(level)]);
}

bool SystemMouseSettings::setSpeedLevel(int level) {
    if (!settings_ || level < 0 || level > 9)
        return false;
    return settings_->setMouseSpeed(level + 6);
}

bool SystemMouseSettings::setScrollLines(int lines) {
    return settings_ && lines >= 0 && settings_->setWheelScrollLines(unsigned(lines));
}

bool SystemMouseSettings::setScrollChars(int chars) {
    return settings_ && chars >= 0 && settings_->setWheelScrollChars(unsigned(chars));
}

bool SystemMouseSettings::setDoubleClickLevel(int level) {
    if (!settings_ || level < 0 || level > 11)
        return false;
    return settings_->setDoubleClickTime(unsigned(970 - 70 * level));
}

QString SystemMouseSettings::report() {
    std::array<int, 3> mouse = {0, 0, 0};
    unsigned scrollChars = 0;
    int speed = 10;
    unsigned doubleClick = 0;
    unsigned scrollLines = 3;
    if (settings_) {
        if (!settings_->getMouse(mouse))
            mouse = {0, 0, 0};
        if (!settings_->getWheelScrollChars(scrollChars))
            scrollChars = 0;
        settings_->getMouseSpeed(speed);
        doubleClick = settings_->doubleClickTime();
        settings_->getWheelScrollLines(scrollLines);
    }
    int acceleration = 0;
    for (size_t level = 0; level < kAccelerationReport.size(); ++level) {
        if (kAccelerationReport[level] == mouse[2]) {
            acceleration = int(level);
            break;
        }
    }
    qint64 doubleClickItem = doubleClick;
    for (size_t level = 0; level < kDoubleClickReport.size(); ++level) {
        if (kDoubleClickReport[level] == doubleClick) {
            doubleClickItem = qint64(level);
            break;
        }
    }
    return QStringLiteral(
               "defaultMouseAccel:%1,defaultScrollLinesX:%2,defaultMouseSpeed:%3,"
               "defaultMouseDoubleClick:%4,defaultScrollLinesY:%5")
        .arg(acceleration)
        .arg(scrollChars)
        .arg(speed / 2)
        .arg(doubleClickItem)
        .arg(scrollLines);
}
