#pragma once

#include <array>
#include <filesystem>
#include <mutex>

#include "platform/mouse_settings.h"

namespace platform {

// The system's mouse settings kept in a file of their own (see simInputFiles()), so that they
// outlive the program as a user profile does. Until a setting is made they are Windows'
// defaults. Every call reads the file, so instances in one or several processes agree.
class SimMouseSettings final : public MouseSettings {
  public:
    explicit SimMouseSettings(std::filesystem::path file);

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
    struct Values {
        std::array<int, 3> mouse{6, 10, 1};
        int speed = 10;
        unsigned wheelLines = 3;
        unsigned wheelChars = 3;
        unsigned doubleClick = 500;
    };

    Values load() const;
    // Written to a temporary file that then replaces the old one.
    bool save(const Values& values) const;
    template <typename Change>
    bool change(Change change);

    const std::filesystem::path file_;
    std::mutex mutex_;  // one read-modify-write at a time
};

}  // namespace platform
