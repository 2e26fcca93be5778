#include "app/tray_quick_switch.h"

#include <QRegularExpression>

#include <pugixml.hpp>

#include "app/config_files.h"
#include "commands/profile_store.h"
#include "device/device_functions.h"
#include "device/vm100_properties.h"

namespace {

const QString kModel = QStringLiteral("vm100");

QList<quint8> bytesOf(const QString& byteList) {
    QList<quint8> bytes;
    if (byteList.isEmpty())
        return bytes;
    for (const QString& item : byteList.split(QLatin1Char(',')))
        bytes.append(DeviceFunctions::parseByte(item));
    return bytes;
}

}  // namespace

TrayQuickSwitch::TrayQuickSwitch(DeviceFunctions& device, ProfileStore& profiles,
                                 std::function<QByteArray()> confText)
    : device_(device), profiles_(profiles), confText_(std::move(confText)) {}

std::optional<TrayQuickSwitch::Mouse> TrayQuickSwitch::attachedMouse() {
    const dc::DeviceListBlock block = device_.listDevices();
    const QByteArray conf = confText_();
    for (int i = 0; i < devices_handler::entryCount(block); ++i) {
        const dc::DeviceEntry& entry = block.entries[i];
        const QString key = devices_handler::deviceKey(entry.vendorId, entry.productId);
        if (productDeviceFolder(conf, key) != kModel)
            continue;
        const Device_Record record = devices_handler::deviceRecord(entry);
        return Mouse{record.deviceId, record.devicePath};
    }
    return std::nullopt;
}

TrayQuickSwitch::Stages TrayQuickSwitch::dpiStages() {
    Stages stages;
    const std::optional<Mouse> mouse = attachedMouse();
    if (!mouse)
        return stages;
    for (int id = vm100::kDpiFirst.id; id <= vm100::kDpiLast.id; ++id) {
        // [link, x low, x high, ...] in steps of kDpiStep.
        const QList<quint8> bytes = bytesOf(device_.readPropertyText(
            mouse->hardwareId, mouse->devicePath, QString::number(id), QString::number(3)));
        // A read that fails reads as zeros, and no stage has 0 DPI.
        const int steps = bytes.size() < 3 ? 0 : bytes[1] | bytes[2] << 8;
        if (steps == 0)
            return {};
        stages.dpi.append(steps * vm100::kDpiStep);
    }
    const QList<quint8> current = bytesOf(device_.readPropertyText(
        mouse->hardwareId, mouse->devicePath, QString::number(vm100::kDpiStage.id),
        QString::number(vm100::kDpiStage.size)));
    if (!current.isEmpty() && current[0] < stages.dpi.size())
        stages.current = current[0];
    return stages;
}

bool TrayQuickSwitch::chooseDpiStage(int index) {
    if (index < 0 || index >= vm100::kDpiStages)
        return false;
    const std::optional<Mouse> mouse = attachedMouse();
    if (!mouse)
        return false;
    return device_.writeDevicesProp({
        {QStringLiteral("HardwareID"), mouse->hardwareId},
        {QStringLiteral("DevicePath"), mouse->devicePath},
        {QStringLiteral("PARAMID"), vm100::kDpiStage.id},
        {QStringLiteral("PARAMSIZE"), vm100::kDpiStage.size},
        {QStringLiteral("PARAMDATA"), QString::number(index, 16)},
    });
}

QStringList TrayQuickSwitch::profileNames() {
    QStringList names;
    const ProfileAnswer answer = profiles_.queryProfile(
        QStringLiteral("profiles/%1/index.xml").arg(kModel), QStringLiteral("/profiles"));
    if (answer.kind != ProfileAnswer::Success)
        return names;
    pugi::xml_document document;
    const QByteArray text = answer.text.toUtf8();
    if (!document.load_buffer(text.constData(), static_cast<size_t>(text.size())))
        return names;
    // The settings page lists only entries with a name and a file it made.
    static const QRegularExpression ownFile(QStringLiteral("^profile-\\d+\\.xml$"));
    for (const pugi::xml_node& profile : document.child("profiles").children("profile")) {
        const QString name = QString::fromUtf8(profile.attribute("name").value());
        const QString file = QString::fromUtf8(profile.attribute("file").value());
        if (!name.isEmpty() && ownFile.match(file).hasMatch())
            names.append(name);
    }
    return names;
}
