#pragma once

#include <atomic>
#include <filesystem>
#include <memory>

#include "platform/filter_driver.h"
#include "platform/sim/desktop.h"
#include "platform/sim/input_files.h"

namespace platform {

// A filter driver whose strokes are fed from outside the program (dcsim stroke) through the
// strokes file, and which records what the program passes on in the passed file. The mouse
// on device 11 and the keyboard on device 1 are those of the simulated device tree; the other
// channels report no hardware id.
//
// Every stroke fed reaches the program: the simulated driver selects nothing by filter mask,
// so that key maps of the keyboard can be tried out as well as those of the mouse.
class SimFilterDriver final : public FilterDriver {
  public:
    // `stateFile`: see simStateFile(). Passed-on left-button releases go to `desktop`.
    SimFilterDriver(const std::filesystem::path& stateFile, std::shared_ptr<SimDesktop> desktop);

    // Null when the strokes file cannot be had (a folder that cannot be written).
    std::unique_ptr<FilterContext> open() override;

  private:
    const SimInputFiles files_;
    const std::shared_ptr<SimDesktop> desktop_;
};

class SimFilterContext final : public FilterContext {
  public:
    // Use SimFilterDriver::open().
    SimFilterContext(SimInputFiles files, std::shared_ptr<SimDesktop> desktop, int changes,
                     int wakeup);
    ~SimFilterContext() override;
    SimFilterContext(const SimFilterContext&) = delete;
    SimFilterContext& operator=(const SimFilterContext&) = delete;

    void setStrokeFilter(const std::function<bool(int device)>& predicate,
                         std::uint16_t mask) override;
    int waitForStroke() override;
    int sendStrokes(int device, const Stroke* strokes, int count) override;
    int receiveStrokes(int device, Stroke* strokes, int capacity) override;
    std::size_t readHardwareId(int device, void* buffer, std::size_t size) override;
    void wake() override;

  private:
    void drainChanges();

    const SimInputFiles files_;
    const std::shared_ptr<SimDesktop> desktop_;
    const int changes_;  // inotify on the strokes file's folder, or -1: poll instead
    const int wakeup_;   // eventfd
    std::atomic<bool> woken_{false};
};

}  // namespace platform
