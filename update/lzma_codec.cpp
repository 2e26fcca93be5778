#include "update/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <new>

namespace update {
namespace lzma {
namespace {

constexpr unsigned kPropertiesLimit = 9 * 5 * 5;  // (pb * 5 + lp) * 9 + lc, pb and lp below 5
constexpr int kEncoderPreset = 6;
constexpr qint64 kFirstOutputBlock = 1 << 20;
constexpr qint64 kLargestBuffer = 1 << 30;  // QByteArray sizes are int: doubling stops here

quint32 readLe32(const unsigned char* p) {
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

Result resultOf(lzma_ret ret) {
    switch (ret) {
        case LZMA_OK:
        case LZMA_STREAM_END:
            return Ok;
        case LZMA_MEM_ERROR:
        case LZMA_MEMLIMIT_ERROR:
            return MemoryError;
        case LZMA_OPTIONS_ERROR:
            return Unsupported;
        case LZMA_BUF_ERROR:
            return InputEnd;
        default:
            return DataError;
    }
}

class Stream {
  public:
    ~Stream() { lzma_end(&stream_); }
    lzma_stream* operator->() { return &stream_; }
    lzma_stream* get() { return &stream_; }

  private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace

Result decode(const unsigned char properties[kPropertiesSize], const unsigned char* stream,
              std::size_t streamSize, quint32 size, QByteArray& out) {
    out.clear();
    if (properties[0] >= kPropertiesLimit)
        return Unsupported;
    lzma_options_lzma options{};
    options.lc = properties[0] % 9;
    options.lp = properties[0] / 9 % 5;
    options.pb = properties[0] / 45;
    if (options.lc + options.lp > LZMA_LCLP_MAX)
        return Unsupported;
    // No match reaches further back than the output's start, so a dictionary larger than the
    // output is never used: capping it keeps a hostile header from sizing the decoder's memory.
    options.dict_size =
        std::max<quint32>(LZMA_DICT_SIZE_MIN, std::min<quint32>(readLe32(properties + 1), size));
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = size;
    options.ext_size_high = 0;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Stream decoder;
    lzma_ret ret = lzma_raw_decoder(decoder.get(), filters);
    if (ret != LZMA_OK)
        return resultOf(ret);

    decoder->next_in = stream;
    decoder->avail_in = streamSize;
    try {
        qint64 capacity =
            std::min<qint64>(size, std::max<qint64>(kFirstOutputBlock, 4 * streamSize));
        out.resize(int(capacity));
        decoder->next_out = reinterpret_cast<uint8_t*>(out.data());
        decoder->avail_out = std::size_t(capacity);
        for (;;) {
            ret = lzma_code(decoder.get(), LZMA_FINISH);
            if (ret == LZMA_STREAM_END)
                break;
            if (ret != LZMA_OK) {
                out.clear();
                return resultOf(ret);
            }
            if (decoder->avail_out == 0 && capacity < size) {
                const qint64 done = qint64(decoder->total_out);
                capacity = std::min<qint64>(size, 2 * capacity);
                out.resize(int(capacity));
                decoder->next_out = reinterpret_cast<uint8_t*>(out.data()) + done;
                decoder->avail_out = std::size_t(capacity - done);
            }
        }
        out.resize(int(decoder->total_out));
    } catch (const std::bad_alloc&) {
        out.clear();
        return MemoryError;
    }
    return Ok;
}

bool encode(const QByteArray& data, EndMarker marker, QByteArray& properties, QByteArray& stream) {
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, kEncoderPreset))
        return false;
    // A small body needs no more dictionary than itself; the reader sizes its own by this.
    quint32 dictionary = LZMA_DICT_SIZE_MIN;
    while (dictionary < options.dict_size && dictionary < quint32(data.size()))
        dictionary *= 2;
    options.dict_size = dictionary;
    options.ext_flags = 0;  // the size travels beside the stream
    const lzma_filter filters[] = {
        {marker == EndMarker::Write ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
        {LZMA_VLI_UNKNOWN, nullptr}};
    Stream encoder;
    if (lzma_raw_encoder(encoder.get(), filters) != LZMA_OK)
        return false;

    const qint64 firstBlock = qint64(data.size()) + data.size() / 8 + 4096;
    if (firstBlock > 2 * kLargestBuffer - 1)
        return false;
    stream.resize(int(firstBlock));
    encoder->next_in = reinterpret_cast<const uint8_t*>(data.constData());
    encoder->avail_in = std::size_t(data.size());
    encoder->next_out = reinterpret_cast<uint8_t*>(stream.data());
    encoder->avail_out = std::size_t(stream.size());
    for (;;) {
        const lzma_ret ret = lzma_code(encoder.get(), LZMA_FINISH);
        if (ret == LZMA_STREAM_END)
            break;
        if (ret != LZMA_OK)
            return false;
        if (encoder->avail_out == 0) {
            const qint64 done = qint64(encoder->total_out);
            if (stream.size() > kLargestBuffer)
                return false;
            stream.resize(stream.size() * 2);
            encoder->next_out = reinterpret_cast<uint8_t*>(stream.data()) + done;
            encoder->avail_out = std::size_t(stream.size() - done);
        }
    }
    stream.resize(int(encoder->total_out));

    properties.resize(kPropertiesSize);
    properties[0] = char((options.pb * 5 + options.lp) * 9 + options.lc);
    for (int i = 0; i < 4; ++i)
        properties[1 + i] = char(dictionary >> (8 * i));
    return true;
}

}  // namespace lzma
}  // namespace update
