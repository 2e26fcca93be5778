#include "platform/sim/virtual_hid.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "platform/sim/input_files.h"

namespace platform {

SimVirtualHid::SimVirtualHid(const std::filesystem::path& stateFile)
    : record_(simInputFiles(stateFile).reports) {}

std::unique_ptr<VirtualHidClient> SimVirtualHid::createClient() {
    return std::make_unique<SimVirtualHidClient>(record_);
}

SimVirtualHidClient::SimVirtualHidClient(std::filesystem::path record)
    : record_(std::move(record)) {}

bool SimVirtualHidClient::open() {
    const int fd =
        ::open(record_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    open_ = true;
    return true;
}

void SimVirtualHidClient::close() {
    open_ = false;
}

bool SimVirtualHidClient::sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) {
    if (!open_ || !keys)
        return false;
    fillKeyboardReport(report_, shift, keys);
    return write();
}

bool SimVirtualHidClient::sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x,
                                                  std::int8_t y, std::int8_t wheel) {
    if (!open_)
        return false;
    fillRelativeMouseReport(report_, buttons, x, y, wheel);
    return write();
}

bool SimVirtualHidClient::write() {
    // The time of the write call, not of its end: waiting for the record's lock is the
    // recorder's, not the device's.
    const std::int64_t now = monotonicMilliseconds();
    return appendRecord(record_, reportLine(now, report_) + '\n', kReportRecordLimit);
}

}  // namespace platform
