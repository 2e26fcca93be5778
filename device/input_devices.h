#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// One mouse or keyboard found by the walk over the present devices.
struct InputDeviceRecord {
    QString path;        // the vendor interface path, or the hardware id of a PS/2 device
    QString hardwareId;  // the device's first hardware id, upper-cased
    QString productId;   // the four PID characters, or "0F0E" / "0303" for PS/2
    QString vendorId;    // the four VID characters, or "ACPI"
    QString reserved;    // the walk leaves it empty
    QString type;        // "mouse" or "keyboard"

    bool operator==(const InputDeviceRecord& other) const;
    bool operator!=(const InputDeviceRecord& other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(InputDeviceRecord)

// The walk's result: `keys[i]` is the device key of `devices[i]`.
struct InputDeviceLists {
    QList<InputDeviceRecord> devices;
    QStringList keys;
};
Q_DECLARE_METATYPE(InputDeviceLists)
