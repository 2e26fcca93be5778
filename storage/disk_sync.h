#pragma once

#include <QFileDevice>

namespace storage {

// Flushes `file`'s buffers and asks the system to put its content on the disk, so a rename
// that publishes it afterwards never publishes a file that a power cut would leave empty.
bool syncToDisk(QFileDevice& file);

}  // namespace storage
