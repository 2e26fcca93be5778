#include "platform/sim/mouse_settings.h"

#include "sim/libdc/state_file.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace platform {
namespace {

// A settings file is a few lines; a bigger one is not ours and reads as the defaults.
constexpr std::uintmax_t kMaxFileSize = 4096;
constexpr int kMinSpeed = 1;
constexpr int kMaxSpeed = 20;
// SetDoubleClickTime: 0 restores the default, longer times are cut to the longest.
constexpr unsigned kDefaultDoubleClick = 500;
constexpr unsigned kMaxDoubleClick = 5000;

std::atomic<unsigned> temporaryCounter{0};

// Stream extraction takes "-1" for an unsigned number; the file is read more strictly.
bool readUnsigned(std::istringstream& in, unsigned& value) {
    long long read = 0;
    if (!(in >> read) || read < 0 || read > static_cast<long long>(UINT_MAX))
        return false;
    value = static_cast<unsigned>(read);
    return true;
}

}  // namespace

SimMouseSettings::SimMouseSettings(fs::path file) : file_(std::move(file)) {}

SimMouseSettings::Values SimMouseSettings::load() const {
    Values values;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file_, ec);
    if (ec || size > kMaxFileSize)
        return values;
    std::ifstream in(file_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        if (name == "acceleration") {
            std::array<int, 3> mouse{};
            if (fields >> mouse[0] >> mouse[1] >> mouse[2])
                values.mouse = mouse;
        } else if (name == "speed") {
            int speed = 0;
            if (fields >> speed && speed >= kMinSpeed && speed <= kMaxSpeed)
                values.speed = speed;
        } else if (name == "wheel-lines") {
            readUnsigned(fields, values.wheelLines);
        } else if (name == "wheel-chars") {
            readUnsigned(fields, values.wheelChars);
        } else if (name == "double-click") {
            unsigned time = 0;
            if (readUnsigned(fields, time) && time > 0 && time <= kMaxDoubleClick)
                values.doubleClick = time;
        }
    }
    return values;
}

bool SimMouseSettings::save(const Values& values) const {
    std::ostringstream text;
    text << "acceleration " << values.mouse[0] << ' ' << values.mouse[1] << ' ' << values.mouse[2]
         << "\nspeed " << values.speed << "\nwheel-lines " << values.wheelLines << "\nwheel-chars "
         << values.wheelChars << "\ndouble-click " << values.doubleClick << '\n';
    fs::path temporary = file_;
    temporary += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++temporaryCounter);
    return dcsim::replaceFile(file_, temporary, text.str());
}

template <typename Change>
bool SimMouseSettings::change(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    Values values = load();
    change(values);
    return save(values);
}

bool SimMouseSettings::setMouse(const std::array<int, 3>& mouse) {
    return change([&](Values& values) { values.mouse = mouse; });
}

bool SimMouseSettings::getMouse(std::array<int, 3>& mouse) {
    std::lock_guard<std::mutex> lock(mutex_);
    mouse = load().mouse;
    return true;
}

bool SimMouseSettings::setMouseSpeed(int speed) {
    if (speed < kMinSpeed || speed > kMaxSpeed)
        return false;
    return change([&](Values& values) { values.speed = speed; });
}

bool SimMouseSettings::getMouseSpeed(int& speed) {
    std::lock_guard<std::mutex> lock(mutex_);
    speed = load().speed;
    return true;
}

bool SimMouseSettings::setWheelScrollLines(unsigned lines) {
    return change([&](Values& values) { values.wheelLines = lines; });
}

bool SimMouseSettings::getWheelScrollLines(unsigned& lines) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = load().wheelLines;
    return true;
}

bool SimMouseSettings::setWheelScrollChars(unsigned chars) {
    return change([&](Values& values) { values.wheelChars = chars; });
}

bool SimMouseSettings::getWheelScrollChars(unsigned& chars) {
    std::lock_guard<std::mutex> lock(mutex_);
    chars = load().wheelChars;
    return true;
}

bool SimMouseSettings::setDoubleClickTime(unsigned milliseconds) {
    const unsigned time = milliseconds == 0                ? kDefaultDoubleClick
                          : milliseconds > kMaxDoubleClick ? kMaxDoubleClick
                                                           : milliseconds;
    return change([&](Values& values) { values.doubleClick = time; });
}

unsigned SimMouseSettings::doubleClickTime() {
    std::lock_guard<std::mutex> lock(mutex_);
    return load().doubleClick;
}

}  // namespace platform
