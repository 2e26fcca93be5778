#include "storage/disk_sync.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace storage {

bool syncToDisk(QFileDevice& file) {
    if (!file.flush())
        return false;
    const int handle = file.handle();
    if (handle < 0)
        return false;
#ifdef _WIN32
    return _commit(handle) == 0;
#else
    return fsync(handle) == 0;
#endif
}

}  // namespace storage
