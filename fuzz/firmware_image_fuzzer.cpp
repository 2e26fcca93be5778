// The firmware image file update.bin, checked and cut into loader blocks before and while the
// device is written, against a loader that records every call.
//
// The input's first bytes choose the file's header words, its size field, its check value and
// its length (up to beyond the image buffer); the rest are the image bytes from offset 264 on.

#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "update/firmware_updater.h"

namespace {

constexpr int kBuffer = 67170;
constexpr int kImageAt = 264;
constexpr int kSizeAt = 66113;
constexpr int kCheckAt = 66121;
constexpr int kBlock = 2000;
constexpr quint64 kLargestImage = kSizeAt - kImageAt;

const QString kDeviceId = QStringLiteral("HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000");

class RecordingLoader : public FirmwareUpdater::Loader {
  public:
    struct Block {
        std::vector<quint8> bytes;
        int length;
        int offset;
    };

    bool deviceExist(const QString& id) override {
        if (id == FirmwareUpdater::bootloaderId) {
            ++touched;
            return true;
        }
        ++existQueries;
        return id == kDeviceId && devicePresent;
    }
    bool canReboot() override { return reboots; }
    void reset(const QString&) override { ++touched; }
    void eraseRom() override { ++touched; }
    bool bornRom(const quint8* block, int length, int offset) override {
        ++touched;
        blocks.push_back({std::vector<quint8>(block, block + 2048), length, offset});
        return true;
    }
    bool checkRom(int size, quint32 check) override {
        ++touched;
        checkedSize = size;
        checkedValue = check;
        return true;
    }
    void finishUpdateRom() override { ++touched; }

    bool devicePresent = true;
    bool reboots = true;
    int existQueries = 0;
    int touched = 0;  // calls that reach the device or its loader
    std::vector<Block> blocks;
    int checkedSize = -1;
    quint32 checkedValue = 0;
};

void putLe(std::vector<quint8>& file, size_t at, quint64 value, int width) {
    for (int i = 0; i < width && at + i < file.size(); ++i)
        file[at + i] = quint8(value >> (8 * i));
}

quint64 getLe(const std::vector<quint8>& buffer, size_t at, int width) {
    quint64 value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | buffer[at + i];
    return value;
}

const QString& imagePath() {
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("update.bin"));
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider choices(data, size);
    const bool goodHeader = choices.ConsumeBool();
    const quint32 first = goodHeader ? 0x1016 : choices.ConsumeIntegral<quint32>();
    const quint32 second = goodHeader ? 0 : choices.ConsumeIntegral<quint32>();
    quint64 sizeField = 0;
    switch (choices.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            sizeField = choices.ConsumeIntegralInRange<quint64>(0, kLargestImage);
            break;
        case 1:
            sizeField = choices.ConsumeIntegralInRange<quint64>(0, 33) * kBlock;
            break;
        case 2:
            sizeField = kLargestImage + choices.ConsumeIntegralInRange<quint64>(0, 5000);
            break;
        default:
            sizeField = choices.ConsumeIntegral<quint64>();
            break;
    }
    const quint32 check = choices.ConsumeIntegral<quint32>();
    size_t length = 0;
    switch (choices.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            length = kCheckAt + 4;
            break;
        case 1:
            length = kBuffer + choices.ConsumeIntegralInRange<size_t>(0, 3000) - 1500;
            break;
        case 2:
            length = choices.ConsumeIntegralInRange<size_t>(0, kCheckAt + 4);
            break;
        default:
            length = kBuffer;
            break;
    }
    const quint8 fill = choices.ConsumeIntegral<quint8>();
    const bool present = choices.ConsumeBool();
    const bool reboots = choices.ConsumeBool();
    const std::vector<quint8> image = choices.ConsumeRemainingBytes<quint8>();

    std::vector<quint8> file(length, fill);
    putLe(file, 0, first, 4);
    putLe(file, 4, second, 4);
    for (size_t i = 0; i < image.size() && kImageAt + i < length; ++i)
        file[kImageAt + i] = image[i];
    putLe(file, kSizeAt, sizeField, 8);
    putLe(file, kCheckAt, check, 4);
    {
        QFile out(imagePath());
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(reinterpret_cast<const char*>(file.data()), qint64(length)) != qint64(length))
            fuzz::fail("the image file is written");
    }

    RecordingLoader loader;
    loader.devicePresent = present;
    loader.reboots = reboots;
    FirmwareUpdater updater(
        loader, [](int) {}, [](const QString&) {});
    updater.updateFirmware(kDeviceId, imagePath());

    // What the device library would see of the file: the buffer, zero beyond the file.
    std::vector<quint8> buffer(kBuffer, 0);
    std::copy_n(file.begin(), std::min<size_t>(length, kBuffer), buffer.begin());
    const quint64 imageSize = getLe(buffer, kSizeAt, 8);
    const bool valid = length <= size_t(kBuffer) && getLe(buffer, 0, 4) == 0x1016 &&
                       getLe(buffer, 4, 4) == 0 && imageSize <= kLargestImage;

    fuzz::check(loader.existQueries == 1, "the device is asked for once");
    if (!present || !valid) {
        fuzz::check(loader.touched == 0,
                    "an absent device or a bad image (too large, wrong words, a size beyond the "
                    "buffer) stops before any device call");
        return 0;
    }

    // The blocks cover the image exactly: 2000 bytes each from offset 0, the last one shorter
    // (empty when the size is a multiple of 2000), zeros after each block's bytes.
    const size_t expectedBlocks = size_t(imageSize / kBlock + 1);
    fuzz::check(loader.blocks.size() == expectedBlocks, "one block per 2000 bytes, and one more");
    quint64 covered = 0;
    for (size_t i = 0; i < loader.blocks.size(); ++i) {
        const RecordingLoader::Block& block = loader.blocks[i];
        fuzz::check(quint64(block.offset) == covered, "each block starts where the last one ended");
        fuzz::check(block.length >= 0 && block.length <= kBlock,
                    "a block holds at most 2000 bytes");
        fuzz::check(i + 1 == loader.blocks.size() || block.length == kBlock,
                    "only the last block is short");
        for (int b = 0; b < 2048; ++b) {
            const quint8 expected = b < block.length ? buffer[kImageAt + block.offset + b] : 0;
            fuzz::check(block.bytes[size_t(b)] == expected,
                        "a block carries the image's bytes, then zeros");
        }
        covered += quint64(block.length);
    }
    fuzz::check(covered == imageSize, "the blocks cover exactly the image");
    fuzz::check(
        loader.checkedSize == int(imageSize) && loader.checkedValue == getLe(buffer, kCheckAt, 4),
        "the loader verifies the image's size and check value");
    return 0;
}
