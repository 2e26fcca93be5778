// The stand-in for the maker's device library: the 18 entry points over one simulated mouse.
//
// Callbacks come from a thread of the library's own, as with the real library. It starts with
// the first callback registration and is stopped and joined when the library is unloaded (see
// library_lifetime.h for Windows). It wakes every 50 ms to pick up what the dcsim tool queued
// in the state file.

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>

#include "device/dc_api.h"
#include "sim/libdc/library_lifetime.h"
#include "sim/libdc/sim_device.h"
#include "sim/libdc/state_file.h"

namespace {

using dc::WideChar;
using dcsim::Mode;
using dcsim::StateFile;

constexpr auto kPollInterval = std::chrono::milliseconds(50);

// Compares a caller's text with one of ours, reading no further than the first difference.
bool sameText(const WideChar* given, const char16_t* ours) {
    for (; *ours; ++given, ++ours) {
        if (*given != *ours)
            return false;
    }
    return *given == 0;
}

template <std::size_t N>
void copyText(char (&field)[N], const char* text) {
    const std::size_t length = std::min(std::strlen(text), N - 1);
    std::memcpy(field, text, length);
}

// The block's wide fields are not aligned for char16_t, so they are only ever reached as
// bytes: no reference to them may be formed (std::size included).
void copyWideText(void* field, std::size_t fieldBytes, const char16_t* text) {
    auto* bytes = static_cast<unsigned char*>(field);
    const std::size_t units = fieldBytes / sizeof(char16_t);
    for (std::size_t i = 0; i + 1 < units && text[i]; ++i)
        std::memcpy(bytes + i * sizeof(char16_t), &text[i], sizeof(char16_t));
}

class Simulator {
  public:
    static Simulator& instance() {
        static Simulator simulator;
        return simulator;
    }

    ~Simulator() {
        if (dcsim::processIsEnding()) {
            // The thread is gone and may have died holding the mutex.
            if (thread_.joinable())
                thread_.detach();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    int deviceExist(const WideChar* id) {
        if (!id)
            return dcsim::kBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        syncLocked();
        return state_.plugged && sameText(id, dcsim::presentId(state_)) ? dcsim::kOk
                                                                        : dcsim::kNotPresent;
    }

    int devices(const dc::UsageFilter& filter, dc::DeviceListBlock* block, std::uint32_t size) {
        if (!block || size < sizeof(dc::DeviceListBlock))
            return dcsim::kBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        syncLocked();
        std::memset(block, 0, sizeof(dc::DeviceListBlock));
        if (!state_.plugged)
            return dcsim::kOk;
        const bool loader = state_.mode == Mode::Loader;
        const std::uint16_t page = loader ? dcsim::kLoaderUsagePage : dcsim::kUsagePage;
        const bool wanted = std::any_of(
            std::begin(filter.pairs), std::end(filter.pairs), [page](const dc::UsagePair& pair) {
                return pair.usage == dcsim::kUsage && pair.usagePage == page;
            });
        if (!wanted)
            return dcsim::kOk;
        dc::DeviceEntry& entry = block->entries[0];
        copyText(entry.name, loader ? dcsim::kLoaderName : dcsim::kDeviceName);
        copyText(entry.version, dcsim::versionText(state_).c_str());
        copyText(entry.sn, dcsim::kSerialNumber);
        copyText(entry.mask, dcsim::kMask);
        entry.vendorId = dcsim::kVendorId;
        entry.productId = loader ? dcsim::kLoaderProductId : dcsim::kProductId;
        copyWideText(entry.devicePath, sizeof entry.devicePath, dcsim::presentPath(state_));
        copyWideText(entry.deviceId, sizeof entry.deviceId, dcsim::presentId(state_));
        block->count = 1;
        return dcsim::kOk;
    }

    int onDeviceEvent(dc::DeviceEventCallback* callback) {
        if (!callback)
            return dcsim::kBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        eventCallback_ = *callback;
        return eventCallback_ ? startThreadLocked() : dcsim::kOk;
    }

    int onDeviceData(const WideChar* id, const WideChar* path, std::uint32_t channel,
                     dc::DeviceDataCallback* callback) {
        if (!callback)
            return dcsim::kBadArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        syncLocked();
        if (const int result = addressLocked(id, path, channel, Mode::Normal))
            return result;
        dataCallback_ = *callback;
        return dataCallback_ ? startThreadLocked() : dcsim::kOk;
    }

    // dcAsk, dcNotify, dcScriptOut, dcIDWrite: acknowledged by the running device.
    int acknowledge(const WideChar* id, const WideChar* path, std::uint32_t channel) {
        std::lock_guard<std::mutex> lock(mutex_);
        syncLocked();
        return addressLocked(id, path, channel, Mode::Normal);
    }

    int read(const WideChar* id, const WideChar* path, std::uint32_t channel, std::uint8_t* buffer,
             int size, int address) {
        if (!transferFits(buffer, size))
            return dcsim::kBadArgument;
        return inspect(id, path, channel,
                       [&] { return dcsim::readMemory(state_, address, buffer, size); });
    }

    int write(const WideChar* id, const WideChar* path, std::uint32_t channel,
              const std::uint8_t* buffer, int size, int address) {
        if (!transferFits(buffer, size))
            return dcsim::kBadArgument;
        return change(id, path, channel, Mode::Normal,
                      [&] { return dcsim::writeMemory(state_, address, buffer, size); });
    }

    int readProp(const WideChar* id, const WideChar* path, std::uint32_t channel,
                 std::uint8_t* buffer, int size, int propertyId) {
        if (!transferFits(buffer, size))
            return dcsim::kBadArgument;
        return inspect(id, path, channel,
                       [&] { return dcsim::readProperty(state_, propertyId, buffer, size); });
    }

    int writeProp(const WideChar* id, const WideChar* path, std::uint32_t channel,
                  const std::uint8_t* buffer, int size, int propertyId) {
        if (!transferFits(buffer, size))
            return dcsim::kBadArgument;
        return change(id, path, channel, Mode::Normal,
                      [&] { return dcsim::writeProperty(state_, propertyId, buffer, size); });
    }

    // Mode 1 restarts into the loader, mode 0 restarts into whatever may run.
    int reset(const WideChar* id, const WideChar* path, std::uint32_t channel, std::uint16_t mode,
              std::uint8_t* status) {
        if (!status || mode > 1)
            return dcsim::kBadArgument;
        const int result = change(id, path, channel, std::nullopt, [&] {
            if (mode == 1)
                dcsim::enterLoader(state_);
            else
                dcsim::restart(state_);
            return dcsim::kOk;
        });
        if (result == dcsim::kOk)
            *status = 0;
        return result;
    }

    int rebootRom(const WideChar* id, const WideChar* path, std::uint32_t channel) {
        return change(id, path, channel, std::nullopt, [&] {
            dcsim::enterLoader(state_);
            return dcsim::kOk;
        });
    }

    int eraseRom(const WideChar* id, const WideChar* path, std::uint32_t channel) {
        return change(id, path, channel, Mode::Loader, [&] {
            dcsim::eraseFlash(state_);
            return dcsim::kOk;
        });
    }

    int bornRom(const WideChar* id, const WideChar* path, std::uint32_t channel,
                const std::uint8_t* buffer, int length, int offset) {
        if (!buffer || length < 0 || length > dc::kTransferBufferSize)
            return dcsim::kBadArgument;
        return change(id, path, channel, Mode::Loader,
                      [&] { return dcsim::programFlash(state_, offset, buffer, length); });
    }

    int checkRom(const WideChar* id, const WideChar* path, std::uint32_t channel, int size,
                 std::uint32_t check) {
        return change(id, path, channel, Mode::Loader,
                      [&] { return dcsim::checkImage(state_, size, check); });
    }

    int finishUpdateRom(const WideChar* id, const WideChar* path, std::uint32_t channel) {
        return change(id, path, channel, Mode::Loader, [&] { return dcsim::finishUpdate(state_); });
    }

  private:
    struct Delivery {
        bool isReport = false;
        std::uint16_t code = 0;
        std::array<std::uint8_t, dcsim::kReportSize> report{};
    };

    Simulator() : file_(dcsim::defaultStatePath()) {
        StateFile::Lock lock(file_);
        dcsim::DeviceState loaded;
        switch (file_.load(loaded)) {
            case StateFile::LoadResult::Loaded:
                state_ = std::move(loaded);
                // What was queued while no program ran is history, not news.
                if (!state_.pending.empty()) {
                    state_.pending.clear();
                    file_.save(state_);
                }
                break;
            case StateFile::LoadResult::Missing:
            case StateFile::LoadResult::SetAside:
                state_ = dcsim::factoryState();
                file_.save(state_);
                break;
            case StateFile::LoadResult::Unreadable:
                state_ = dcsim::factoryState();
                break;
        }
        stamp_ = file_.stamp();
    }

    static bool transferFits(const void* buffer, int size) {
        return buffer && size >= 0 && size <= dc::kTransferBufferSize;
    }

    // Reads the device in normal mode under the lock, after catching up with the state file.
    template <typename Read>
    int inspect(const WideChar* id, const WideChar* path, std::uint32_t channel, Read&& read) {
        std::lock_guard<std::mutex> lock(mutex_);
        syncLocked();
        if (const int result = addressLocked(id, path, channel, Mode::Normal))
            return result;
        return read();
    }

    // Runs one state change under the file lock on the newest state, saves it, and announces
    // a change of the device's mode as removal and arrival, and a pull as removal.
    template <typename Change>
    int change(const WideChar* id, const WideChar* path, std::uint32_t channel,
               std::optional<Mode> mode, Change&& apply) {
        std::lock_guard<std::mutex> lock(mutex_);
        StateFile::Lock fileLock(file_);
        refreshLocked();
        if (const int result = addressLocked(id, path, channel, mode))
            return result;
        const Mode before = state_.mode;
        const bool wasRestart = !mode.has_value();
        const int result = apply();
        if (result != dcsim::kOk)
            return result;
        commitLocked();
        if (!state_.plugged) {
            queueLocked(Delivery{false, dcsim::kEventRemoved, {}});
        } else if (wasRestart || state_.mode != before) {
            queueLocked(Delivery{false, dcsim::kEventRemoved, {}});
            queueLocked(Delivery{false, dcsim::kEventArrived, {}});
        }
        return dcsim::kOk;
    }

    // The common arguments: the present device's id in the expected mode, any device path
    // text, and the library channel.
    int addressLocked(const WideChar* id, const WideChar* path, std::uint32_t channel,
                      std::optional<Mode> mode) const {
        if (!id || !path || channel != dc::kLibraryChannel)
            return dcsim::kBadArgument;
        if (!state_.plugged || !sameText(id, dcsim::presentId(state_)))
            return dcsim::kNotPresent;
        if (mode && *mode != state_.mode)
            return dcsim::kWrongMode;
        return dcsim::kOk;
    }

    void syncLocked() {
        if (file_.stamp() == stamp_)
            return;
        StateFile::Lock fileLock(file_);
        refreshLocked();
    }

    // Takes over what another process wrote; the caller holds the file lock.
    void refreshLocked() {
        const StateFile::Stamp current = file_.stamp();
        if (current == stamp_)
            return;
        dcsim::DeviceState loaded;
        if (file_.load(loaded) == StateFile::LoadResult::Loaded)
            state_ = std::move(loaded);
        stamp_ = file_.stamp();
    }

    void commitLocked() {
        if (file_.save(state_))
            stamp_ = file_.stamp();
    }

    int startThreadLocked() {
        if (thread_.joinable())
            return dcsim::kOk;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return dcsim::kInternalError;
        }
        dcsim::keepLoadedWhileThreadRuns();
        return dcsim::kOk;
    }

    void queueLocked(const Delivery& delivery) {
        if (!thread_.joinable())
            return;
        deliveries_.push_back(delivery);
        wake_.notify_all();
    }

    void takeNotificationsLocked() {
        if (file_.stamp() == stamp_ && state_.pending.empty())
            return;
        StateFile::Lock fileLock(file_);
        refreshLocked();
        if (state_.pending.empty())
            return;
        for (const dcsim::Notification& n : state_.pending) {
            switch (n.kind) {
                case dcsim::Notification::Kind::Plug:
                    queueLocked(Delivery{false, dcsim::kEventArrived, {}});
                    break;
                case dcsim::Notification::Kind::Unplug:
                    queueLocked(Delivery{false, dcsim::kEventRemoved, {}});
                    break;
                case dcsim::Notification::Kind::Report:
                    queueLocked(Delivery{true, 0, n.report});
                    break;
            }
        }
        state_.pending.clear();
        commitLocked();
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, kPollInterval,
                           [this] { return stopping_ || !deliveries_.empty(); });
            if (stopping_)
                break;
            takeNotificationsLocked();
            while (!deliveries_.empty() && !stopping_) {
                const Delivery delivery = deliveries_.front();
                deliveries_.pop_front();
                if (delivery.isReport) {
                    const dc::DeviceDataCallback callback = dataCallback_;
                    if (!callback)
                        continue;
                    const std::uint8_t* bytes = delivery.report.data();
                    lock.unlock();
                    callback(&bytes, nullptr);
                    lock.lock();
                } else {
                    // A removed device's data registration goes with it, as its handle would.
                    if (delivery.code == dcsim::kEventRemoved)
                        dataCallback_ = nullptr;
                    const dc::DeviceEventCallback callback = eventCallback_;
                    if (!callback)
                        continue;
                    lock.unlock();
                    callback(delivery.code);
                    lock.lock();
                }
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    StateFile file_;
    StateFile::Stamp stamp_;
    dcsim::DeviceState state_;
    dc::DeviceEventCallback eventCallback_ = nullptr;
    dc::DeviceDataCallback dataCallback_ = nullptr;
    std::deque<Delivery> deliveries_;
    bool stopping_ = false;
    std::thread thread_;
};

// No exception may cross into the caller.
template <typename Call>
int guarded(Call&& call) {
    try {
        return call();
    } catch (...) {
        return dcsim::kInternalError;
    }
}

}  // namespace

DC_EXPORT int dcDeviceExist(const WideChar* hardwareId) {
    return guarded([&] { return Simulator::instance().deviceExist(hardwareId); });
}

DC_EXPORT int dcDevices(dc::UsageFilter filter, dc::DeviceListBlock* block, std::uint32_t size) {
    return guarded([&] { return Simulator::instance().devices(filter, block, size); });
}

DC_EXPORT int dcOnDeviceEvent(dc::DeviceEventCallback* callback) {
    return guarded([&] { return Simulator::instance().onDeviceEvent(callback); });
}

DC_EXPORT int dconDeviceData(const WideChar* deviceId, const WideChar* devicePath,
                             std::uint32_t channel, dc::DeviceDataCallback* callback) {
    return guarded([&] {
        return Simulator::instance().onDeviceData(deviceId, devicePath, channel, callback);
    });
}

DC_EXPORT int dcAsk(const WideChar* hardwareId, const WideChar* devicePath, std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().acknowledge(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcReset(const WideChar* hardwareId, const WideChar* devicePath, std::uint32_t channel,
                      std::uint16_t mode, std::uint8_t* status, int /*reserved*/) {
    return guarded(
        [&] { return Simulator::instance().reset(hardwareId, devicePath, channel, mode, status); });
}

DC_EXPORT int dcNotify(const WideChar* hardwareId, const WideChar* devicePath,
                       std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().acknowledge(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcRead(const WideChar* hardwareId, const WideChar* devicePath, std::uint32_t channel,
                     std::uint8_t* buffer, int size, int address) {
    return guarded([&] {
        return Simulator::instance().read(hardwareId, devicePath, channel, buffer, size, address);
    });
}

DC_EXPORT int dcWrite(const WideChar* hardwareId, const WideChar* devicePath, std::uint32_t channel,
                      const std::uint8_t* buffer, int size, int address) {
    return guarded([&] {
        return Simulator::instance().write(hardwareId, devicePath, channel, buffer, size, address);
    });
}

DC_EXPORT int dcReadProp(const WideChar* hardwareId, const WideChar* devicePath,
                         std::uint32_t channel, std::uint8_t* buffer, int size, int propertyId) {
    return guarded([&] {
        return Simulator::instance().readProp(hardwareId, devicePath, channel, buffer, size,
                                              propertyId);
    });
}

DC_EXPORT int dcWriteProp(const WideChar* hardwareId, const WideChar* devicePath,
                          std::uint32_t channel, const std::uint8_t* buffer, int size,
                          int propertyId) {
    return guarded([&] {
        return Simulator::instance().writeProp(hardwareId, devicePath, channel, buffer, size,
                                               propertyId);
    });
}

DC_EXPORT int dcScriptOut(const WideChar* hardwareId, const WideChar* devicePath,
                          std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().acknowledge(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcIDWrite(const WideChar* hardwareId, const WideChar* devicePath,
                        std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().acknowledge(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcRebootRom(const WideChar* hardwareId, const WideChar* devicePath,
                          std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().rebootRom(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcFinishUpdateRom(const WideChar* hardwareId, const WideChar* devicePath,
                                std::uint32_t channel) {
    return guarded(
        [&] { return Simulator::instance().finishUpdateRom(hardwareId, devicePath, channel); });
}

DC_EXPORT int dcCheckRom(const WideChar* hardwareId, const WideChar* devicePath,
                         std::uint32_t channel, int size, std::uint32_t check) {
    return guarded([&] {
        return Simulator::instance().checkRom(hardwareId, devicePath, channel, size, check);
    });
}

DC_EXPORT int dcBornRom(const WideChar* hardwareId, const WideChar* devicePath,
                        std::uint32_t channel, const std::uint8_t* buffer, int length, int offset) {
    return guarded([&] {
        return Simulator::instance().bornRom(hardwareId, devicePath, channel, buffer, length,
                                             offset);
    });
}

DC_EXPORT int dcEraseRom(const WideChar* hardwareId, const WideChar* devicePath,
                         std::uint32_t channel) {
    return guarded([&] { return Simulator::instance().eraseRom(hardwareId, devicePath, channel); });
}

// The exported shapes must be exactly those the binding resolves.
static_assert(std::is_same_v<decltype(&dcDeviceExist), dc::DeviceExistFn>);
static_assert(std::is_same_v<decltype(&dcDevices), dc::DevicesFn>);
static_assert(std::is_same_v<decltype(&dcOnDeviceEvent), dc::OnDeviceEventFn>);
static_assert(std::is_same_v<decltype(&dconDeviceData), dc::OnDeviceDataFn>);
static_assert(std::is_same_v<decltype(&dcAsk), dc::AskFn>);
static_assert(std::is_same_v<decltype(&dcReset), dc::ResetFn>);
static_assert(std::is_same_v<decltype(&dcNotify), dc::NotifyFn>);
static_assert(std::is_same_v<decltype(&dcRead), dc::ReadFn>);
static_assert(std::is_same_v<decltype(&dcWrite), dc::WriteFn>);
static_assert(std::is_same_v<decltype(&dcReadProp), dc::ReadPropFn>);
static_assert(std::is_same_v<decltype(&dcWriteProp), dc::WritePropFn>);
static_assert(std::is_same_v<decltype(&dcScriptOut), dc::ScriptOutFn>);
static_assert(std::is_same_v<decltype(&dcIDWrite), dc::IDWriteFn>);
static_assert(std::is_same_v<decltype(&dcRebootRom), dc::RebootRomFn>);
static_assert(std::is_same_v<decltype(&dcFinishUpdateRom), dc::FinishUpdateRomFn>);
static_assert(std::is_same_v<decltype(&dcCheckRom), dc::CheckRomFn>);
static_assert(std::is_same_v<decltype(&dcBornRom), dc::BornRomFn>);
static_assert(std::is_same_v<decltype(&dcEraseRom), dc::EraseRomFn>);
