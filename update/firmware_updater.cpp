#include "update/firmware_updater.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <atomic>

#include "device/dc_library.h"

const QString FirmwareUpdater::bootloaderId = QStringLiteral("HID\\Vid_04d9&Pid_b0d2");

namespace {

constexpr quint32 kLibraryChannel = 0x1016;

void putLittleEndian(QByteArray& bytes, int offset, quint64 value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

// The image buffer: the file's bytes, then zeros up to its full size.
QByteArray imageBuffer(const QByteArray& file) {
    QByteArray buffer(FirmwareUpdater::kImageBufferSize, '\0');
    std::copy(file.cbegin(), file.cend(), buffer.begin());
    return buffer;
}

quint64 sizeField(const QByteArray& buffer) {
    return qFromLittleEndian<quint64>(buffer.constData() + FirmwareUpdater::kSizeOffset);
}

std::atomic<int> runningWrites{0};

class RunningWrite {
  public:
    RunningWrite() { ++runningWrites; }
    ~RunningWrite() { --runningWrites; }
    RunningWrite(const RunningWrite&) = delete;
    RunningWrite& operator=(const RunningWrite&) = delete;
};

}  // namespace

FirmwareUpdater::FirmwareUpdater(Loader& loader, std::function<void(int)> wait,
                                 std::function<void(const QString&)> status)
    : loader_(loader), wait_(std::move(wait)), status_(std::move(status)) {}

void FirmwareUpdater::updateFirmware(const QString& deviceId, const QString& imagePath) {
    const RunningWrite running;
    if (!loader_.deviceExist(deviceId)) {
        status_(QStringLiteral("未找到鼠标，固件未更新"));
        return;
    }
    if (!loadFirmwareImage(imagePath)) {
        status_(QStringLiteral("固件文件无效，固件未更新"));
        return;
    }
    if (loader_.canReboot())
        loader_.reset(deviceId);
    // The loader gets 4 + 4 + 5 seconds to show up.
    writeFromLoader(4000);
}

void FirmwareUpdater::rewriteFirmware(const QString& imagePath) {
    const RunningWrite running;
    if (!loadFirmwareImage(imagePath)) {
        status_(QStringLiteral("固件文件无效，固件未更新"));
        return;
    }
    writeFromLoader(0);
}

bool FirmwareUpdater::writing() {
    return runningWrites > 0;
}

void FirmwareUpdater::writeFromLoader(int firstWaitMs) {
    bool present = false;
    for (const int ms : {firstWaitMs, 4000, 5000}) {
        if (ms > 0)
            wait_(ms);
        if ((present = loader_.deviceExist(bootloaderId)))
            break;
    }
    if (!present) {
        status_(QStringLiteral("鼠标更新失败。。。"));
        return;
    }
    loader_.eraseRom();
    wait_(1000);
    // A write that failed or lost the loader half way is not checked or started: the mouse
    // stays in its loader, where the image can be written again.
    if (!writeFirmwareBlocks()) {
        status_(QStringLiteral("更新失败"));
        return;
    }
    status_(QStringLiteral("更新成功"));
    const quint32 check = qFromLittleEndian<quint32>(image_.constData() + kCheckOffset);
    if (!loader_.checkRom(static_cast<int>(imageSize() & 0xFFFFFFFFu), check)) {
        status_(QStringLiteral("校验失败，请重新更新"));
        return;
    }
    status_(QStringLiteral("校验成功,启动设备。。。"));
    wait_(100);
    loader_.finishUpdateRom();
}

bool FirmwareUpdater::loadFirmwareImage(const QString& imagePath) {
    const QByteArray file = readImageFile(imagePath);
    image_ = file.isEmpty() ? QByteArray() : imageBuffer(file);
    return !image_.isEmpty();
}

QByteArray FirmwareUpdater::readImageFile(const QString& imagePath) {
    QFile file(imagePath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    // An image that does not fit the buffer would be cut: refused before the device is touched.
    // The size is what is read, not what the file claims: it may grow, or be no plain file.
    const QByteArray bytes = file.read(kImageBufferSize + 1);
    if (bytes.size() > kImageBufferSize)
        return QByteArray();
    const QByteArray buffer = imageBuffer(bytes);
    const bool valid = qFromLittleEndian<quint32>(buffer.constData()) == kLibraryChannel &&
                       qFromLittleEndian<quint32>(buffer.constData() + 4) == 0 &&
                       sizeField(buffer) <= quint64(kSizeOffset - kImageOffset);
    return valid ? bytes : QByteArray();
}

quint64 FirmwareUpdater::imageSize() const {
    return sizeField(image_);
}

bool FirmwareUpdater::writeFirmwareBlocks() {
    if (image_.isEmpty())
        return false;
    const qint64 size = static_cast<qint64>(imageSize());
    const qint64 blocks = size / kBlockSize + 1;
    qint64 remaining = size;
    for (qint64 i = 0; i < blocks; ++i) {
        if (!loader_.deviceExist(bootloaderId))
            return false;
        const int offset = static_cast<int>(i * kBlockSize);
        const int length = static_cast<int>(remaining <= kBlockSize ? remaining : kBlockSize);
        quint8 block[2048] = {};
        std::copy_n(image_.constData() + kImageOffset + offset, length, block);
        if (!loader_.bornRom(block, length, offset))
            return false;
        remaining -= kBlockSize;
        wait_(20);
    }
    return true;
}

QByteArray FirmwareUpdater::makeImageFile(const QByteArray& image, quint32 check) {
    if (image.size() > kSizeOffset - kImageOffset)
        return QByteArray();
    QByteArray file(kCheckOffset + 4, '\0');
    putLittleEndian(file, 0, kLibraryChannel, 4);
    std::copy(image.cbegin(), image.cend(), file.begin() + kImageOffset);
    putLittleEndian(file, kSizeOffset, quint64(image.size()), 8);
    putLittleEndian(file, kCheckOffset, check, 4);
    return file;
}

bool LibraryLoader::deviceExist(const QString& id) {
    return library_.deviceExist(id);
}

bool LibraryLoader::canReboot() {
    return library_.entryPoints().dcRebootRom != nullptr;
}

void LibraryLoader::reset(const QString& deviceId) {
    quint8 status = 0;
    library_.reset(deviceId, 1, &status);
}

void LibraryLoader::eraseRom() {
    library_.eraseRom(FirmwareUpdater::bootloaderId);
}

bool LibraryLoader::bornRom(const quint8* block, int length, int offset) {
    return library_.bornRom(FirmwareUpdater::bootloaderId, block, length, offset);
}

bool LibraryLoader::checkRom(int size, quint32 check) {
    return library_.checkRom(FirmwareUpdater::bootloaderId, size, check);
}

void LibraryLoader::finishUpdateRom() {
    library_.finishUpdateRom(FirmwareUpdater::bootloaderId);
}

void waitWithEvents(int milliseconds) {
    // A nested loop sleeps between events instead of polling for them.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
