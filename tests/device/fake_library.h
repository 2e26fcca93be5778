#pragma once

#include <QLibrary>
#include <QString>

#include "tests/device/fake_device.h"

// Folders holding the recording libraries (see fake_libdc.cpp).
inline QString fakeFolder() {
    return QStringLiteral(FAKE_DC_DIR);
}
inline QString minimalFakeFolder() {
    return QStringLiteral(FAKE_DC_MINIMAL_DIR);
}

// The recording state of the library in `folder`; the same library the binding loads.
inline FakeDevice* fakeDeviceIn(const QString& folder) {
    QLibrary library(folder + QStringLiteral("/libdc"));
    const auto fn = reinterpret_cast<FakeDeviceFn>(library.resolve("fakeDevice"));
    return fn ? fn() : nullptr;
}
