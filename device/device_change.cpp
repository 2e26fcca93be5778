#include "device/device_change.h"

#include <QRegularExpression>

namespace {

constexpr std::uint32_t kDeviceInterfaceType = 5;

// Windows names arriving USB interfaces in upper case; the key is taken as it stands.
bool interfaceKey(const platform::DeviceChange& change, QString& key) {
    if (change.deviceType != kDeviceInterfaceType)
        return false;
    static const QRegularExpression pattern(
        QStringLiteral("VID\\_([a-zA-Z0-9]{0,4})&PID\\_([a-zA-Z0-9]{0,4})"));
    const QRegularExpressionMatch match =
        pattern.match(QString::fromStdString(change.interfaceName));
    if (!match.hasMatch())
        return false;
    key = match.captured(1) + match.captured(2);
    return true;
}

}  // namespace

DeviceChangeDecision decideDeviceChange(const platform::DeviceChange& change,
                                        const QStringList& knownKeys) {
    DeviceChangeDecision decision;
    int code = 0;
    switch (change.event) {
        case platform::DeviceChangeEvent::Arrival:
            decision.logLine = QStringLiteral("DBT_DEVICEARRIVAL case");
            code = 2;
            break;
        case platform::DeviceChangeEvent::RemoveComplete:
            decision.logLine = QStringLiteral("DBT_DEVICEREMOVECOMPLETE case");
            code = 1;
            break;
        case platform::DeviceChangeEvent::RemovePending:
            decision.logLine = QStringLiteral("DBT_DEVICEREMOVEPENDING case");
            return decision;
        case platform::DeviceChangeEvent::Other:
            decision.logLine = QStringLiteral("Went to Default case");
            return decision;
    }
    // Devices the library already listed at start-up are left to the library's own events.
    QString key;
    if (!interfaceKey(change, key) || knownKeys.contains(key))
        return decision;
    decision.push = true;
    decision.code = code;
    return decision;
}
