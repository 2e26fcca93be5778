#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "platform/device_notifications.h"
#include "sim/libdc/state_file.h"

namespace platform {

// Arrival and removal of the simulated mouse's USB interface, learnt by watching the state
// file: plugging, unplugging and loader restarts made with dcsim or by the device library.
// A change undone within one poll interval goes unnoticed.
//
// The listener is called on a watcher thread of this object's own, not on the thread that
// registered the window: hand the change over to the main thread from there.
class SimDeviceNotifications final : public DeviceNotifications {
  public:
    // `stateFile`: see simStateFile().
    explicit SimDeviceNotifications(std::filesystem::path stateFile,
                                    std::chrono::milliseconds pollInterval = kPollInterval);
    // Stops and joins the watcher; no call of the listener runs after it returns.
    ~SimDeviceNotifications() override;
    SimDeviceNotifications(const SimDeviceNotifications&) = delete;
    SimDeviceNotifications& operator=(const SimDeviceNotifications&) = delete;

    // Starts watching (once; the window itself plays no part). Changes are measured from the
    // state at this call. False when the watcher thread cannot be started.
    bool registerWindow(std::uintptr_t window) override;
    // No window messages carry these changes: always false.
    bool decode(const std::string& eventType, const void* message, DeviceChange& change) override;
    // Once it returns, a listener it replaced is no longer running nor called. Not to be
    // called from inside the listener.
    void setListener(std::function<void(const DeviceChange&)> listener) override;

    static constexpr std::chrono::milliseconds kPollInterval{100};

  private:
    void run();
    void poll();
    void report(DeviceChangeEvent event, const std::string& interfaceName);

    const dcsim::StateFile file_;
    const std::chrono::milliseconds pollInterval_;

    std::mutex mutex_;  // guards stopping_ and thread_
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;

    std::mutex listenerMutex_;  // held while the listener runs
    std::function<void(const DeviceChange&)> listener_;

    // The watcher's own; set before it starts.
    dcsim::StateFile::Stamp stamp_;
    std::string interfaceName_;  // "" while the mouse is away
};

}  // namespace platform
