#pragma once

// Raw LZMA1 streams as packages keep them: the five property bytes and the decompressed size
// stored beside the stream, the stream itself with or without an end marker.

#include <QByteArray>

#include <cstddef>

namespace update {
namespace lzma {

constexpr int kPropertiesSize = 5;

// The results of the LZMA SDK's one-call decoder, which the package log lines carry.
enum Result : int {
    Ok = 0,
    DataError = 1,
    MemoryError = 2,
    Unsupported = 4,  // properties liblzma cannot decode (lc + lp above 4, or out of range)
    InputEnd = 6,     // the stream ended before `size` bytes were decoded
};

// Decodes exactly `size` bytes from `stream` into `out`. An end marker is accepted right after
// the last byte and nowhere else; bytes after the end are ignored. `out` grows with the bytes
// actually decoded, so a size that lies costs no more memory than the stream delivers.
Result decode(const unsigned char properties[kPropertiesSize], const unsigned char* stream,
              std::size_t streamSize, quint32 size, QByteArray& out);

enum class EndMarker { Omit, Write };

// `data` as a raw stream and its five property bytes; false when the encoder fails.
bool encode(const QByteArray& data, EndMarker marker, QByteArray& properties, QByteArray& stream);

}  // namespace lzma
}  // namespace update
