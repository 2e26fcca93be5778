#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/linux/process_priority_linux.h"

namespace {

int niceOf(pid_t thread) {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
}

pid_t currentThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// Raising the priority from one thread reaches every thread, as a Windows priority class does.
TEST(ProcessPriority, RaisesEveryThreadAndNeverLowersOne) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may raise priorities";
    std::mutex mutex;
    std::condition_variable changed;
    pid_t worker = 0;
    bool done = false;
    std::thread other([&] {
        std::unique_lock<std::mutex> lock(mutex);
        worker = currentThread();
        changed.notify_all();
        changed.wait(lock, [&] { return done; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return worker != 0; });
    }
    ASSERT_EQ(::setpriority(PRIO_PROCESS, static_cast<id_t>(worker), 5), 0);
    ASSERT_EQ(::setpriority(PRIO_PROCESS, static_cast<id_t>(currentThread()), -15), 0);

    platform::LinuxProcessPriority priority;
    std::thread([&priority] { priority.raiseToHigh(); }).join();

    EXPECT_EQ(niceOf(worker), platform::LinuxProcessPriority::kHighNice);
    EXPECT_EQ(niceOf(currentThread()), -15);
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    changed.notify_all();
    other.join();
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(currentThread()), 0);
}

}  // namespace
