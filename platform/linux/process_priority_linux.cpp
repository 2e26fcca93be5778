#include "platform/linux/process_priority_linux.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace platform {

void LinuxProcessPriority::raiseToHigh() {
    std::error_code ec;
    for (std::filesystem::directory_iterator task("/proc/self/task", ec), end; !ec && task != end;
         task.increment(ec)) {
        const std::string name = task->path().filename().string();
        char* rest = nullptr;
        const long id = std::strtol(name.c_str(), &rest, 10);
        if (id <= 0 || *rest != '\0')
            continue;
        // -1 is also a nice value: only errno tells a failure.
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(id));
        if (errno == 0 && nice > kHighNice)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(id), kHighNice);
    }
}

}  // namespace platform
