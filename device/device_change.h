#pragma once

#include <QString>
#include <QStringList>

#include "platform/device_notifications.h"

// What the main window does with one device-change message: a log line always, and for some
// arrivals and removals a "devicesChanged" push with `code`.
struct DeviceChangeDecision {
    QString logLine;
    bool push = false;
    int code = 0;  // 2: arrival, 1: removal
};

// `knownKeys` is the application's key list of library devices.
DeviceChangeDecision decideDeviceChange(const platform::DeviceChange& change,
                                        const QStringList& knownKeys);
