// The walk over the present mice and keyboards, and the USB interface that belongs to each.

#include <QRegularExpression>

#include <cstdio>
#include <string>
#include <vector>

#include "device/devices_handler.h"
#include "platform/device_enumeration.h"

namespace {

const QString kMouseClass = QStringLiteral("{4D36E96F-E325-11CE-BFC1-08002BE10318}");
const QString kKeyboardClass = QStringLiteral("{4D36E96B-E325-11CE-BFC1-08002BE10318}");
const QString kAcpiMarker = QStringLiteral("ACPI\\PNP");

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// The characters the identifier pattern matched after its prefix ("VID_", "MI_" ...), at most
// `width` of them.
QString matchedPart(const QRegularExpressionMatch& match, int prefixLength, int width) {
    return match.captured(0).mid(prefixLength, width);
}

}  // namespace

bool InputDeviceRecord::operator==(const InputDeviceRecord& other) const {
    return path == other.path && hardwareId == other.hardwareId && productId == other.productId &&
           vendorId == other.vendorId && reserved == other.reserved && type == other.type;
}

void devices_handler::setDeviceEnumeration(platform::DeviceEnumeration* enumeration) {
    enumeration_.store(enumeration);
}

InputDeviceLists devices_handler::scanInputDevices() const {
    InputDeviceLists lists;
    platform::DeviceEnumeration* enumeration = enumeration_.load();
    std::vector<platform::PresentDevice> present;
    if (!enumeration || !enumeration->presentDevices(present))
        return lists;

    static const QRegularExpression vendorPattern(QStringLiteral("VID_\\w+"));
    static const QRegularExpression productPattern(QStringLiteral("PID_\\w+"));
    static const QRegularExpression interfacePattern(QStringLiteral("MI_\\w{1,2}"));
    QString seen;
    for (const platform::PresentDevice& device : present) {
        const QString instanceId = fromUtf8(device.instanceId).toUpper();
        const QRegularExpressionMatch vendor = vendorPattern.match(instanceId);
        const QRegularExpressionMatch product = productPattern.match(instanceId);
        const QRegularExpressionMatch interfacePart = interfacePattern.match(instanceId);
        const QString hardwareId = fromUtf8(device.hardwareId);

        const QString classGuid = fromUtf8(device.classGuid);
        const bool mouse = classGuid.compare(kMouseClass, Qt::CaseInsensitive) == 0;
        const bool keyboard = classGuid.compare(kKeyboardClass, Qt::CaseInsensitive) == 0;
        if (!mouse && !keyboard)
            continue;
        const bool usb = vendor.hasMatch() && product.hasMatch();
        const bool acpi = hardwareId.contains(kAcpiMarker);
        if (!usb && !acpi)
            continue;

        InputDeviceRecord record;
        if (usb) {
            record.vendorId = matchedPart(vendor, 4, 4);
            record.productId = matchedPart(product, 4, 4);
        } else {
            record.vendorId = QStringLiteral("ACPI");
            record.productId = mouse ? QStringLiteral("0F0E") : QStringLiteral("0303");
        }
        const QString key = usb ? (record.vendorId + record.productId).toUpper()
                                : QStringLiteral("*PNP") + record.productId;

        // Only the first interface of a composite device stands for it. "MI_0A" and the like
        // are not decimal, and so not interface 0 either.
        if (interfacePart.hasMatch()) {
            bool decimal = false;
            const int number = matchedPart(interfacePart, 3, 2).toInt(&decimal, 10);
            if (!decimal || number != 0)
                continue;
        }
        if (seen.contains(key) || seen.contains(instanceId))
            continue;

        const QString path = findVendorInterface(key);
        if (!path.isEmpty() || acpi) {
            record.path = acpi ? hardwareId : path;
            record.hardwareId = hardwareId.toUpper();
            record.type = mouse ? QStringLiteral("mouse") : QStringLiteral("keyboard");
            lists.devices.append(record);
            lists.keys.append(key);
        }
        seen += key + QLatin1Char(';');
    }
    return lists;
}

QString devices_handler::findVendorInterface(const QString& deviceKey) const {
    platform::DeviceEnumeration* enumeration = enumeration_.load();
    std::vector<std::string> paths;
    // The backend reports its own failure to get the interface set.
    if (!enumeration || !enumeration->usbInterfacePaths(paths))
        return QString();

    // Interface paths spell "vid_" and "pid_" in lower case.
    static const QRegularExpression pattern(
        QStringLiteral("vid\\_([a-zA-Z0-9]{0,4})&pid\\_([a-zA-Z0-9]{0,4})"));
    for (const std::string& rawPath : paths) {
        const QString path = fromUtf8(rawPath);
        const QRegularExpressionMatch match = pattern.match(path);
        if (match.hasMatch() &&
            match.captured(1).toUpper() + match.captured(2).toUpper() == deviceKey)
            return path;
    }
    std::fputs("Failure: Could not find our HID device \n", stdout);
    std::fflush(stdout);
    return QString();
}
