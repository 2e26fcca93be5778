#include "macro/device_filter.h"

#include <QThread>

#include <algorithm>

#include "base/engine_log.h"
#include "platform/input_hooks.h"

namespace {

constexpr std::uint16_t kMouseButtonEvents = 0x03FF;
constexpr quint16 kMouseFlag = 10;
constexpr std::size_t kHardwareIdBytes = 1000;

bool isPressState(quint16 state) {
    return state == 4 || state == 16 || state == 64 || state == 256;
}

bool isReleaseState(quint16 state) {
    return state == 8 || state == 32 || state == 128 || state == 512;
}

}  // namespace

DEVICE_FILTER::DEVICE_FILTER(QThread* thread, Sources sources) : sources_(std::move(sources)) {
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

DEVICE_FILTER::~DEVICE_FILTER() {
    stop();
}

bool DEVICE_FILTER::loadKeyMap(const QString& virtualXmlPath, const QString& deviceId) {
    if (virtualXmlPath.isEmpty())
        return true;
    {
        std::lock_guard<std::mutex> lock(keyMapsMutex_);
        for (int i = 0; i < keyMaps_.size(); ++i) {
            if (keyMaps_.at(i).first == deviceId) {
                keyMaps_.removeAt(i);
                break;
            }
        }
    }
    const QString text = sources_.keyMapText ? sources_.keyMapText(virtualXmlPath) : QString();
    RecordedPoints points;
    {
        std::lock_guard<std::mutex> lock(keyMapsMutex_);
        points = points_;
    }
    const std::optional<DeviceKeyMap> map = parseKeyMap(text, sources_.hidCodeForKey, points);
    if (!map)
        return false;
    if (!deviceId.isEmpty()) {
        std::lock_guard<std::mutex> lock(keyMapsMutex_);
        keyMaps_.append({deviceId, *map});
    }
    return true;
}

bool DEVICE_FILTER::dropKeyMap(const QString& deviceId) {
    if (deviceId.isEmpty())
        return false;
    std::lock_guard<std::mutex> lock(keyMapsMutex_);
    for (int i = 0; i < keyMaps_.size(); ++i) {
        if (keyMaps_.at(i).first == deviceId) {
            keyMaps_.removeAt(i);
            return true;
        }
    }
    return false;
}

void DEVICE_FILTER::setRecordedPoints(const RecordedPoints& points) {
    std::lock_guard<std::mutex> lock(keyMapsMutex_);
    points_ = points;
}

void DEVICE_FILTER::stop() {
    stop_ = true;
    std::lock_guard<std::mutex> lock(contextMutex_);
    if (context_)
        context_->wake();
}

void DEVICE_FILTER::start() {
    if (sources_.priority)
        sources_.priority->raiseToHigh();
    {
        std::lock_guard<std::mutex> lock(contextMutex_);
        if (sources_.driver && !stop_)
            context_ = sources_.driver->open();
        if (!context_)
            return;
        context_->setStrokeFilter(platform::isMouseDevice, kMouseButtonEvents);
    }
    // Only this thread resets the context, so it is used here without the lock.
    platform::FilterContext* context = context_.get();
    for (;;) {
        const int device = context->waitForStroke();
        platform::Stroke stroke;
        if (context->receiveStrokes(device, &stroke, 1) < 1 || stop_)
            break;
        char16_t hardwareId[kHardwareIdBytes / sizeof(char16_t)] = {};
        context->readHardwareId(device, hardwareId, sizeof(hardwareId) - sizeof(char16_t));
        if (!handleStroke(device, stroke, QString::fromUtf16(hardwareId)))
            context->sendStrokes(device, &stroke, 1);
    }
    std::lock_guard<std::mutex> lock(contextMutex_);
    context_.reset();
}

DeviceKeyMap DEVICE_FILTER::keyMapFor(const QString& hardwareId) const {
    const QString id = hardwareId.toUpper();
    if (id.isEmpty() || id.contains(QLatin1String("NDDVD")))
        return DeviceKeyMap();
    const InputDeviceLists lists =
        sources_.inputDevices ? sources_.inputDevices() : InputDeviceLists();
    const auto record =
        std::find_if(lists.devices.cbegin(), lists.devices.cend(),
                     [&id](const InputDeviceRecord& device) { return device.hardwareId == id; });
    if (record == lists.devices.cend())
        return DeviceKeyMap();
    std::lock_guard<std::mutex> lock(keyMapsMutex_);
    for (const auto& entry : keyMaps_) {
        if (entry.first == record->hardwareId)
            return entry.second;
    }
    return DeviceKeyMap();
}

bool DEVICE_FILTER::handleStroke(int device, const platform::Stroke& stroke,
                                 const QString& hardwareId) {
    const DeviceKeyMap map = keyMapFor(hardwareId);
    if (map.isEmpty())
        return false;
    if (platform::isKeyboardDevice(device)) {
        const quint16 code = stroke.key.code;
        ENGINE_LOG_INFO(QStringLiteral("keyboard come %1").arg(code));
        const TriggerKey key{code, static_cast<quint16>((stroke.key.state & 2) >> 1)};
        const auto task = map.constFind(key);
        if (task == map.cend())
            return false;
        if (stroke.key.state & 1) {
            release(key, *task);
        } else {
            press(key, *task);
        }
        return true;
    }
    if (!platform::isMouseDevice(device))
        return false;
    const quint16 state = stroke.mouse.state;
    const TriggerKey down{state, kMouseFlag};
    const TriggerKey up{static_cast<quint16>(state / 2), kMouseFlag};
    if (!map.contains(down) && !map.contains(up))
        return false;
    if (isPressState(state) && map.contains(down)) {
        ENGINE_LOG_INFO(QStringLiteral("mouse down"));
        press(down, map.value(down));
    } else if (isReleaseState(state) && map.contains(up)) {
        ENGINE_LOG_INFO(QStringLiteral("mouse up"));
        release(up, map.value(up));
    }
    return true;
}

void DEVICE_FILTER::press(const TriggerKey& key, const MacroTask& task) {
    const bool held = pressed_.contains(key);
    if ((task.playType == 0 || task.playType == 1) && !held && sources_.playback)
        sources_.playback->startFilterTask(task, 0);
    if (!held)
        pressed_.append(key);
}

void DEVICE_FILTER::release(const TriggerKey& key, const MacroTask& task) {
    if (pressed_.contains(key) && sources_.playback) {
        if (task.playType == 1) {
            sources_.playback->stopPlayback();
        } else if (task.playType == 0 || task.playType == 2) {
            sources_.playback->startFilterTask(task, 1);
        }
    }
    pressed_.removeAll(key);
}
