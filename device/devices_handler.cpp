#include "device/devices_handler.h"

#include <QDebug>
#include <QJsonObject>
#include <QMetaObject>
#include <QRegularExpression>

#include <cstring>
#include <mutex>
#include <set>

#include "base/engine_log.h"

namespace {

// The library keeps the addresses of these variables and may read them at any time.
dc::DeviceEventCallback eventCallbackSlot = &devices_handler::onDeviceEvent;
dc::DeviceDataCallback dataCallbackSlot = &devices_handler::onLibraryData;

std::mutex sinkMutex;
std::function<void(quint16)> eventSink;
std::function<void(const QString&)> dataSink;
const devices_handler* rescanHandler = nullptr;
std::function<void(const InputDeviceLists&)> rescanStore;

// Shared by every registration: the first event and then every fifth one are acted on.
std::mutex counterMutex;
int eventCounter = 0;

std::mutex instancesMutex;
std::set<devices_handler*> instances;

constexpr int kUsageFilterPairs = 20;
constexpr int kReportBytes = 8;

}  // namespace

devices_handler::devices_handler(const QString& libraryFolder, QObject* parent)
    : QObject(parent), library_(std::make_unique<DcLibrary>(libraryFolder)) {
    {
        std::lock_guard<std::mutex> lock(instancesMutex);
        instances.insert(this);
    }
    if (!library_->isLoaded())
        qWarning().noquote() << "device library:" << library_->errorString();
    library_->onDeviceEvent(&eventCallbackSlot);
}

devices_handler::~devices_handler() {
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        if (rescanHandler == this) {
            rescanHandler = nullptr;
            rescanStore = nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(instancesMutex);
    instances.erase(this);
}

dc::DeviceListBlock devices_handler::listDevices() {
    dc::DeviceListBlock block;
    std::memset(&block, 0, sizeof block);
    dc::UsageFilter filter;
    std::memset(&filter, 0, sizeof filter);
    static_assert(sizeof(filter.pairs) / sizeof(filter.pairs[0]) == kUsageFilterPairs);
    filter.pairs[0] = {1, 0xFFA0};
    filter.pairs[1] = {1, 0xFFAA};
    if (!library_->devices(filter, &block))
        return block;
    if (entryCount(block) > 0) {
        const Device_Record first = deviceRecord(block.entries[0]);
        library_->onDeviceData(first.deviceId, first.devicePath, &dataCallbackSlot);
    }
    return block;
}

QJsonArray devices_handler::getDevicesList() {
    return pageDeviceList(listDevices());
}

QJsonArray devices_handler::pageDeviceList(const dc::DeviceListBlock& block) {
    const int count = entryCount(block);
    qDebug().noquote() << QStringLiteral("device===%1").arg(count);
    static const QRegularExpression vendorPattern(QStringLiteral("VID_\\w+"));
    static const QRegularExpression productPattern(QStringLiteral("PID_\\w+"));
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        const Device_Record record = deviceRecord(block.entries[i]);
        qDebug().noquote() << QStringLiteral("strh====%1").arg(record.deviceId);
        if (!vendorPattern.match(record.deviceId).hasMatch() ||
            !productPattern.match(record.deviceId).hasMatch())
            continue;
        QJsonObject device;
        device.insert(QStringLiteral("sid"), QString());
        device.insert(QStringLiteral("deviceId"), record.deviceId);
        device.insert(QStringLiteral("type"), QString());
        device.insert(QStringLiteral("devicePath"), record.devicePath);
        device.insert(QStringLiteral("sn"), QString::fromUtf8(record.sn));
        device.insert(QStringLiteral("version"), QString::fromUtf8(record.version.left(16)));
        device.insert(QStringLiteral("mask"), QString::fromUtf8(record.mask));
        list.append(device);
    }
    return list;
}

void devices_handler::setKnownKeys(const QStringList& keys) {
    knownKeys_ = keys;
}

QStringList devices_handler::knownKeys() const {
    return knownKeys_;
}

int devices_handler::entryCount(const dc::DeviceListBlock& block) {
    return qMin<int>(block.count, dc::kMaxDeviceEntries);
}

QByteArray devices_handler::entryText(const char* field, int size) {
    const void* end = std::memchr(field, 0, static_cast<size_t>(size));
    const int length = end ? static_cast<int>(static_cast<const char*>(end) - field) : size;
    return QByteArray(field, length);
}

QString devices_handler::entryWideText(const void* field, int units) {
    // The block's wide fields are not aligned for char16_t; read them bytewise.
    QString text;
    const auto* bytes = static_cast<const unsigned char*>(field);
    for (int i = 0; i < units; ++i) {
        char16_t unit;
        std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

Device_Record devices_handler::deviceRecord(const dc::DeviceEntry& entry) {
    Device_Record record;
    record.name = entryText(entry.name, sizeof entry.name);
    record.sn = entryText(entry.sn, sizeof entry.sn);
    record.version = entryText(entry.version, sizeof entry.version);
    record.deviceId = entryWideText(entry.deviceId, sizeof entry.deviceId / sizeof(dc::WideChar));
    record.devicePath =
        entryWideText(entry.devicePath, sizeof entry.devicePath / sizeof(dc::WideChar));
    record.mask = entryText(entry.mask, sizeof entry.mask);
    return record;
}

QString devices_handler::deviceKey(quint32 vendorId, quint32 productId) {
    return QStringLiteral("%1%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .toUpper();
}

void devices_handler::setDeviceEventSink(std::function<void(quint16)> sink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    eventSink = std::move(sink);
}

void devices_handler::setDeviceDataSink(std::function<void(const QString&)> sink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    dataSink = std::move(sink);
}

void devices_handler::setInputDeviceRescan(const devices_handler* handler,
                                           std::function<void(const InputDeviceLists&)> store) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    rescanHandler = store ? handler : nullptr;
    rescanStore = handler ? std::move(store) : nullptr;
}

bool devices_handler::onDeviceEvent(quint16 code) {
    bool act = false;
    int counter = 0;
    {
        std::lock_guard<std::mutex> lock(counterMutex);
        act = eventCounter == 0;
        if (++eventCounter == 5)
            eventCounter = 0;
        counter = eventCounter;
    }
    if (act) {
        {
            // Held through the call: once a sink is replaced, the old one is not running.
            std::lock_guard<std::mutex> lock(sinkMutex);
            if (eventSink)
                eventSink(code);
            if (rescanHandler)
                rescanStore(rescanHandler->scanInputDevices());
        }
        std::lock_guard<std::mutex> lock(instancesMutex);
        for (devices_handler* handler : instances)
            QMetaObject::invokeMethod(
                handler, [handler] { emit handler->deviceChanged(); }, Qt::QueuedConnection);
    }
    ENGINE_LOG_INFO(QStringLiteral("==================device event:%1").arg(counter));
    return true;
}

bool devices_handler::onLibraryData(const std::uint8_t** data, void* /*unused*/) {
    if (!data || !*data)
        return true;
    const QString hex =
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(*data), kReportBytes).toHex());
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (dataSink)
        dataSink(hex);
    return true;
}
