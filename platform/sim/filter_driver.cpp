#include "platform/sim/filter_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/sim/sim_state.h"

namespace platform {
namespace {

constexpr std::uint16_t kLeftButtonUp = 0x0002;
// Folder events say when to look again; the rare change they cannot see (the folder itself
// replaced) is caught by looking anyway now and then.
constexpr int kRecheckMs = 1000;
constexpr int kPollWithoutEventsMs = 20;

bool validDevice(int device) {
    return isKeyboardDevice(device) || isMouseDevice(device);
}

}  // namespace

SimFilterDriver::SimFilterDriver(const std::filesystem::path& stateFile,
                                 std::shared_ptr<SimDesktop> desktop)
    : files_(simInputFiles(stateFile)), desktop_(std::move(desktop)) {}

std::unique_ptr<FilterContext> SimFilterDriver::open() {
    const int queue = ::open(files_.strokes.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (queue < 0)
        return nullptr;
    ::close(queue);
    const int wakeup = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeup < 0)
        return nullptr;
    int changes = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (changes >= 0) {
        std::filesystem::path folder = files_.strokes.parent_path();
        if (folder.empty())
            folder = ".";
        if (::inotify_add_watch(changes, folder.c_str(),
                                IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
            ::close(changes);
            changes = -1;
        }
    }
    return std::make_unique<SimFilterContext>(files_, desktop_, changes, wakeup);
}

SimFilterContext::SimFilterContext(SimInputFiles files, std::shared_ptr<SimDesktop> desktop,
                                   int changes, int wakeup)
    : files_(std::move(files)), desktop_(std::move(desktop)), changes_(changes), wakeup_(wakeup) {}

SimFilterContext::~SimFilterContext() {
    if (changes_ >= 0)
        ::close(changes_);
    ::close(wakeup_);
}

void SimFilterContext::setStrokeFilter(const std::function<bool(int device)>&, std::uint16_t) {}

int SimFilterContext::waitForStroke() {
    for (;;) {
        if (woken_.load())
            return kSimMouseDevice;
        // Events from before this look are stale: the file is read after them.
        drainChanges();
        if (const int device = firstWaitingDevice(files_.strokes))
            return device;
        struct pollfd fds[2] = {{wakeup_, POLLIN, 0}, {changes_, POLLIN, 0}};
        const int result =
            ::poll(fds, changes_ >= 0 ? 2 : 1, changes_ >= 0 ? kRecheckMs : kPollWithoutEventsMs);
        if (result < 0 && errno != EINTR)
            return 0;
    }
}

void SimFilterContext::drainChanges() {
    if (changes_ < 0)
        return;
    alignas(struct inotify_event) char buffer[4096];
    while (::read(changes_, buffer, sizeof buffer) > 0) {
    }
}

int SimFilterContext::sendStrokes(int device, const Stroke* strokes, int count) {
    if (!validDevice(device) || count < 1 || !strokes)
        return 0;
    std::string lines;
    int leftButtonUps = 0;
    for (int i = 0; i < count; ++i) {
        SimStroke stroke;
        stroke.device = device;
        stroke.stroke = strokes[i];
        lines += strokeLine(stroke) + '\n';
        if (isMouseDevice(device) && (strokes[i].mouse.state & kLeftButtonUp))
            ++leftButtonUps;
    }
    if (!appendRecord(files_.passed, lines, kPassedRecordLimit))
        return 0;
    for (int i = 0; i < leftButtonUps; ++i)
        desktop_->leftButtonUp();
    return count;
}

int SimFilterContext::receiveStrokes(int device, Stroke* strokes, int capacity) {
    if (woken_.load() || !validDevice(device))
        return 0;
    return takeStrokes(files_.strokes, device, strokes, capacity);
}

std::size_t SimFilterContext::readHardwareId(int device, void* buffer, std::size_t size) {
    const std::string id = simFilterHardwareId(device);
    const std::size_t bytes = (id.size() + 1) * sizeof(char16_t);
    if (id.empty() || !buffer || size < bytes)
        return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i <= id.size(); ++i) {
        const char16_t unit = i < id.size() ? static_cast<unsigned char>(id[i]) : u'\0';
        std::memcpy(out + i * sizeof unit, &unit, sizeof unit);
    }
    return bytes;
}

void SimFilterContext::wake() {
    woken_.store(true);
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(wakeup_, &one, sizeof one);
    (void)ignored;
}

}  // namespace platform
