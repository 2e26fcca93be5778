#include "platform/sim/device_notifications.h"

#include <system_error>
#include <utility>

#include "platform/sim/sim_state.h"

namespace platform {
namespace {

constexpr std::uint32_t kDeviceInterfaceType = 5;

}  // namespace

SimDeviceNotifications::SimDeviceNotifications(std::filesystem::path stateFile,
                                               std::chrono::milliseconds pollInterval)
    : file_(std::move(stateFile)), pollInterval_(pollInterval) {}

SimDeviceNotifications::~SimDeviceNotifications() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool SimDeviceNotifications::registerWindow(std::uintptr_t /*window*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable())
        return true;
    // Stamp first: a change made while the state is read shows as a newer stamp later.
    stamp_ = file_.stamp();
    interfaceName_ = simUsbInterfaceName(readSimState(file_.path()));
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool SimDeviceNotifications::decode(const std::string&, const void*, DeviceChange&) {
    return false;
}

void SimDeviceNotifications::setListener(std::function<void(const DeviceChange&)> listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

void SimDeviceNotifications::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, pollInterval_, [this] { return stopping_; })) {
        lock.unlock();
        poll();
        lock.lock();
    }
}

void SimDeviceNotifications::poll() {
    const dcsim::StateFile::Stamp stamp = file_.stamp();
    if (stamp == stamp_)
        return;
    stamp_ = stamp;
    const std::string name = simUsbInterfaceName(readSimState(file_.path()));
    if (name == interfaceName_)
        return;
    const std::string previous = std::exchange(interfaceName_, name);
    if (!previous.empty())
        report(DeviceChangeEvent::RemoveComplete, previous);
    if (!name.empty())
        report(DeviceChangeEvent::Arrival, name);
}

void SimDeviceNotifications::report(DeviceChangeEvent event, const std::string& interfaceName) {
    DeviceChange change;
    change.event = event;
    change.deviceType = kDeviceInterfaceType;
    change.interfaceName = interfaceName;
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (!listener_)
        return;
    // An escaping exception would end the process from this thread.
    try {
        listener_(change);
    } catch (...) {
    }
}

}  // namespace platform
