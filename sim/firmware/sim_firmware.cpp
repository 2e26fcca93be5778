// Writes a firmware image file (update.bin) for the simulated mouse: a deterministic image
// whose check value is what the simulated loader verifies, the sum of its bytes.

#include <QByteArray>
#include <QFile>

#include <cstdio>

#include "update/firmware_updater.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sim_firmware OUT_FILE IMAGE_BYTES\n");
        return 2;
    }
    bool ok = false;
    const int size = QByteArray(argv[2]).toInt(&ok);
    if (!ok || size < 0) {
        std::fprintf(stderr, "sim_firmware: bad image size %s\n", argv[2]);
        return 2;
    }
    QByteArray image(size, '\0');
    quint32 check = 0;
    for (int i = 0; i < size; ++i) {
        image[i] = char((i * 31 + 7) & 0xFF);
        check += quint8(image[i]);
    }
    const QByteArray file = FirmwareUpdater::makeImageFile(image, check);
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (file.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(file) != file.size()) {
        std::fprintf(stderr, "sim_firmware: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
