// Hexadecimal numbers and byte lists as pages and device texts write them.

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "device/device_functions.h"
#include "fuzz/fuzz_support.h"

namespace {

// The C library's conversion, saturated to 32 bits: what parseHex must agree with.
qint32 referenceHex(const QByteArray& text) {
    const std::string terminated(text.constData(), static_cast<size_t>(text.size()));
    const long long value = std::strtoll(terminated.c_str(), nullptr, 16);
    return static_cast<qint32>(std::clamp<long long>(value, std::numeric_limits<qint32>::min(),
                                                     std::numeric_limits<qint32>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytes(data, size);
    const QString text = QString::fromLatin1(input);

    const qint32 value = DeviceFunctions::parseHex(text);
    fuzz::check(value == referenceHex(input), "parseHex equals strtoll(…, 16) saturated");
    fuzz::check(DeviceFunctions::parseByte(text) == static_cast<quint8>(value & 0xFF),
                "a byte item keeps the low 8 bits");

    // Any bytes survive their list text unchanged.
    const int count = std::min(static_cast<int>(size), 2048);
    const QString list = DeviceFunctions::byteListText(data, count);
    const QStringList items = list.isEmpty() ? QStringList() : list.split(QLatin1Char(','));
    fuzz::check(items.size() == count, "one list item per byte");
    for (int i = 0; i < count; ++i)
        fuzz::check(DeviceFunctions::parseByte(items[i]) == data[i], "list items read back");

    return 0;
}
