#include "device/device_functions.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "device/vm100_properties.h"

namespace {

const QString kHardwareId = QStringLiteral("HardwareID");
const QString kDevicePath = QStringLiteral("DevicePath");
const QString kParamId = QStringLiteral("PARAMID");
const QString kParamSize = QStringLiteral("PARAMSIZE");
const QString kParamAddress = QStringLiteral("PARAMADDRESS");
const QString kParamData = QStringLiteral("PARAMDATA");

bool hasKeys(const ParamMap& map, std::initializer_list<QString> keys) {
    return std::all_of(keys.begin(), keys.end(),
                       [&map](const QString& key) { return map.contains(key); });
}

bool validSize(int size) {
    return size >= 0 && size <= dc::kTransferBufferSize;
}

int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool isSpace(QChar c) {
    const ushort u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}

// One byte per comma item, empty items included; false when the count is not `size`.
template <typename Buffer>
bool fillItems(const QString& data, int size, Buffer& buffer) {
    if (!validSize(size))
        return false;
    const QStringList items = data.split(QLatin1Char(','));
    if (items.size() != size)
        return false;
    buffer.fill(0);
    for (int i = 0; i < size; ++i)
        buffer[i] = DeviceFunctions::parseByte(items[i]);
    return true;
}

int dpiProperty(int index) {
    return index >= 0 && index < vm100::kDpiStages ? vm100::kDpiFirst.id + index : index;
}

}  // namespace

DeviceFunctions::DeviceFunctions(const QString& libraryFolder, QObject* parent)
    : devices_handler(libraryFolder, parent) {}

qint32 DeviceFunctions::parseHex(const QString& text) {
    const int length = text.size();
    int i = 0;
    while (i < length && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i + 1 < length && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X')))
        i += 2;
    // Past 2^31 the value saturates either way, so accumulation stops growing there.
    constexpr qint64 kCeiling = qint64(1) << 31;
    qint64 value = 0;
    for (; i < length && hexDigit(text[i]) >= 0; ++i)
        value = std::min(value * 16 + hexDigit(text[i]), kCeiling);
    if (negative)
        return value >= kCeiling ? std::numeric_limits<qint32>::min() : qint32(-value);
    return value >= kCeiling ? std::numeric_limits<qint32>::max() : qint32(value);
}

quint8 DeviceFunctions::parseByte(const QString& item) {
    return static_cast<quint8>(static_cast<quint32>(parseHex(item)) & 0xFFu);
}

QString DeviceFunctions::byteListText(const quint8* bytes, int count) {
    QStringList items;
    items.reserve(count);
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("0x%1").arg(bytes[i], 2, 16, QLatin1Char('0')));
    return items.join(QLatin1Char(','));
}

QString DeviceFunctions::readDevicesProp(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamId}))
        return QString();
    return readProperty(map.value(kHardwareId).toString(), map.value(kParamId).toInt(),
                        map.value(kParamSize).toInt());
}

bool DeviceFunctions::writeDevicesProp(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamId, kParamData}))
        return false;
    return writeProperty(map.value(kHardwareId).toString(), map.value(kParamId).toInt(),
                         map.value(kParamSize).toInt(), map.value(kParamData).toString());
}

QString DeviceFunctions::readByAddr(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamAddress}))
        return QString();
    return readMemory(map.value(kHardwareId).toString(),
                      parseHex(map.value(kParamAddress).toString()), map.value(kParamSize).toInt());
}

bool DeviceFunctions::writeByAddr(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamAddress, kParamData}))
        return false;
    return writeMemory(map.value(kHardwareId).toString(),
                       parseHex(map.value(kParamAddress).toString()), map.value(kParamSize).toInt(),
                       map.value(kParamData).toString());
}

bool DeviceFunctions::isPropEmpty(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamAddress}))
        return false;
    return memoryBlank(map.value(kHardwareId).toString(),
                       parseHex(map.value(kParamAddress).toString()),
                       map.value(kParamSize).toInt());
}

bool DeviceFunctions::cleanMacroByAddr(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamAddress}))
        return false;
    return clearMemory(map.value(kHardwareId).toString(),
                       parseHex(map.value(kParamAddress).toString()),
                       map.value(kParamSize).toInt());
}

bool DeviceFunctions::writeMacroByAddr(const ParamMap& map) {
    if (!hasKeys(map, {kHardwareId, kDevicePath, kParamSize, kParamAddress, kParamData}))
        return false;
    const QString hardwareId = map.value(kHardwareId).toString();
    const int address = parseHex(map.value(kParamAddress).toString());
    const int size = map.value(kParamSize).toInt();
    if (!memoryBlank(hardwareId, address, size))
        return false;
    return writeMemory(hardwareId, address, size, map.value(kParamData).toString());
}

QString DeviceFunctions::readDevicesDpiVal(const QString& hardwareId, const QString& /*devicePath*/,
                                           const QString& dpiIndex) {
    const QString text =
        readProperty(hardwareId, dpiProperty(dpiIndex.toInt()), vm100::kDpiFirst.size);
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const int x = items.size() > 1 ? parseHex(items[1]) * vm100::kDpiStep : 0;
    const int y = items.size() > 3 ? parseHex(items[3]) * vm100::kDpiStep : 0;
    QJsonObject answer;
    answer.insert(QStringLiteral("DpiXVal"), QString::number(x));
    answer.insert(QStringLiteral("DpiYVal"), QString::number(y));
    return QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

bool DeviceFunctions::clearBlock(const QString& hardwareId, const QString& /*devicePath*/,
                                 const QString& address, const QString& size) {
    return clearMemory(hardwareId, parseHex(address), size.toInt());
}

bool DeviceFunctions::writeBlock(const QString& hardwareId, const QString& /*devicePath*/,
                                 const QString& address, const QString& size, const QString& data) {
    return writeMemory(hardwareId, parseHex(address), size.toInt(), data);
}

bool DeviceFunctions::isBlockEmpty(const QString& hardwareId, const QString& /*devicePath*/,
                                   const QString& address, const QString& size) {
    return memoryBlank(hardwareId, parseHex(address), size.toInt());
}

QString DeviceFunctions::readPropertyText(const QString& hardwareId, const QString& /*devicePath*/,
                                          const QString& propertyId, const QString& size) {
    return readProperty(hardwareId, propertyId.toInt(), size.toInt());
}

QString DeviceFunctions::readDeviceSummary(const QString& hardwareId,
                                           const QString& /*devicePath*/) {
    TransferBuffer level, rate, dpi, light, debounce, sound;
    readPropertyBytes(hardwareId, vm100::kDpiStage.id, vm100::kDpiStage.size, level);
    const int dpiId = dpiProperty(level[0]);
    qDebug() << dpiId;
    readPropertyBytes(hardwareId, vm100::kReportRate.id, vm100::kReportRate.size, rate);
    readPropertyBytes(hardwareId, dpiId, vm100::kDpiFirst.size, dpi);
    readPropertyBytes(hardwareId, vm100::kLighting.id, vm100::kLighting.size, light);
    readPropertyBytes(hardwareId, vm100::kDebounce.id, vm100::kDebounce.size, debounce);
    readPropertyBytes(hardwareId, vm100::kSound.id, vm100::kSound.size, sound);

    const auto dec = [](quint8 b) { return QString::number(b); };
    const auto hex = [](quint8 b) { return QString::number(b, 16); };
    QString text;
    text += QStringLiteral("reporVal:") + dec(rate[0]) + QLatin1Char(',');
    text += QStringLiteral("curDpi:") + dec(level[0]) + QLatin1Char(',');
    text +=
        QStringLiteral("DpiXVal:") + QString::number(dpi[1] * vm100::kDpiStep) + QLatin1Char(',');
    text +=
        QStringLiteral("DpiYVal:") + QString::number(dpi[3] * vm100::kDpiStep) + QLatin1Char(',');
    text += QStringLiteral("lightVal:") + dec(light[0]) + QLatin1Char(',') + dec(light[1]) +
            QLatin1Char(',') + dec(light[2]) + QLatin1Char(',') + hex(light[3]) + hex(light[4]) +
            hex(light[5]) + QLatin1Char(',') + dec(light[6]) + QLatin1Char(',') + dec(light[7]) +
            QLatin1Char(',') + dec(light[8]) + QLatin1Char(',');
    text += QStringLiteral("jittersVal:") + dec(debounce[0]) + QLatin1Char(',') + dec(debounce[1]) +
            QLatin1Char(',');
    text += QStringLiteral("soundVal:") + dec(sound[0]) + QLatin1Char(',') + dec(sound[1]) +
            QLatin1Char(',');
    return text;
}

void DeviceFunctions::readPropertyBytes(const QString& hardwareId, int propertyId, int size,
                                        TransferBuffer& buffer) {
    buffer.fill(0);
    library_->readProp(hardwareId, buffer.data(), size, propertyId);
}

QString DeviceFunctions::readProperty(const QString& hardwareId, int propertyId, int size) {
    if (!validSize(size))
        return QString();
    TransferBuffer buffer;
    readPropertyBytes(hardwareId, propertyId, size, buffer);
    return byteListText(buffer.data(), size);
}

QString DeviceFunctions::readMemory(const QString& hardwareId, int address, int size) {
    if (!validSize(size))
        return QString();
    TransferBuffer buffer;
    buffer.fill(0);
    library_->read(hardwareId, buffer.data(), size, address);
    return byteListText(buffer.data(), size);
}

bool DeviceFunctions::writeProperty(const QString& hardwareId, int propertyId, int size,
                                    const QString& data) {
    TransferBuffer buffer;
    if (!fillItems(data, size, buffer))
        return false;
    return library_->writeProp(hardwareId, buffer.data(), size, propertyId);
}

bool DeviceFunctions::writeMemory(const QString& hardwareId, int address, int size,
                                  const QString& data) {
    TransferBuffer buffer;
    if (!fillItems(data, size, buffer))
        return false;
    return library_->write(hardwareId, buffer.data(), size, address);
}

bool DeviceFunctions::clearMemory(const QString& hardwareId, int address, int size) {
    if (!validSize(size))
        return false;
    TransferBuffer buffer;
    buffer.fill(0);
    return library_->write(hardwareId, buffer.data(), size, address);
}

bool DeviceFunctions::memoryBlank(const QString& hardwareId, int address, int size) {
    if (!validSize(size))
        return false;
    TransferBuffer buffer;
    buffer.fill(0);
    // An area that could not be read may hold a macro: only a read that succeeded shows it blank.
    if (!library_->read(hardwareId, buffer.data(), size, address))
        return false;
    return std::all_of(buffer.begin(), buffer.end(), [](quint8 b) { return b == 0; });
}
