#include "base/startup_timeline.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace startup {

void mark(const char* phase) {
    static const bool enabled = std::getenv("VELMORA_STARTUP_TIMELINE") != nullptr;
    if (!enabled)
        return;
    // Later marks of a phase (a second page load, say) are not start-up any more.
    static std::mutex mutex;
    static std::set<std::string> seen;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!seen.insert(phase).second)
        return;
    QElapsedTimer now;
    now.start();
    std::fprintf(stderr, "startup %lld %s\n", static_cast<long long>(now.msecsSinceReference()),
                 phase);
    std::fflush(stderr);
}

}  // namespace startup
