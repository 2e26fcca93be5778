#pragma once

// What every fuzz target shares: property checks that end the run as a crash, so libFuzzer
// keeps the input that broke them.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char* property) {
    std::fprintf(stderr, "fuzz property violated: %s\n", property);
    std::fflush(stderr);
    std::abort();
}

inline void check(bool holds, const char* property) {
    if (!holds)
        fail(property);
}

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

// A file the program ships in its Resources folder, read from the source tree.
inline QByteArray shippedResource(const char* name) {
    QFile file(QStringLiteral(VELMORA_SOURCE_DIR "/resources/appdir/Resources/") +
               QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        fail("the shipped resource file is readable");
    return file.readAll();
}

}  // namespace fuzz
