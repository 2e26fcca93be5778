// Control command of the simulated device: changes its state file, which the running device
// library watches and turns into device events and data reports.

#include <array>
#include <cstdio>
#include <string>

#include "sim/libdc/sim_device.h"
#include "sim/libdc/state_file.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: dcsim plug | unplug | report <16 hex digits> | status\n");
    return 2;
}

std::string narrow(const char16_t* text) {
    std::string result;
    for (; *text; ++text)
        result.push_back(static_cast<char>(*text));
    return result;
}

int dpiOf(const dcsim::DeviceState& state, int id) {
    std::uint8_t bytes[8] = {};
    dcsim::readProperty(state, id, bytes, 8);
    return bytes[1] * 50;
}

void printStatus(const dcsim::StateFile& file, const dcsim::DeviceState& state, bool saved) {
    std::printf("state file: %s%s\n", file.path().string().c_str(),
                saved ? "" : " (not written yet: factory state)");
    std::printf("plugged: %s\n", state.plugged ? "yes" : "no");
    std::printf("mode: %s\n", state.mode == dcsim::Mode::Normal ? "normal" : "loader");
    std::printf("device id: %s\n", narrow(dcsim::presentId(state)).c_str());
    std::printf("firmware: %s, %u bytes, check 0x%08x%s\n", dcsim::versionText(state).c_str(),
                state.firmwareSize, state.firmwareCheck, state.firmwareValid ? "" : " (erased)");
    std::uint8_t level = 0, rate = 0;
    dcsim::readProperty(state, dcsim::kPropDpiLevel, &level, 1);
    dcsim::readProperty(state, dcsim::kPropReportRate, &rate, 1);
    std::printf("report rate: %u\n", static_cast<unsigned>(rate));
    std::printf("dpi level: %u of", static_cast<unsigned>(level));
    for (int id = dcsim::kPropDpiFirst; id <= dcsim::kPropDpiLast; ++id)
        std::printf(" %d", dpiOf(state, id));
    std::printf("\n");
    int used = 0;
    for (int slot = 0; slot < dcsim::kMacroSlotCount; ++slot) {
        std::uint8_t bytes[dcsim::kMacroSlotSize] = {};
        dcsim::readMemory(state, dcsim::macroSlotAddress(slot), bytes, dcsim::kMacroSlotSize);
        for (std::uint8_t b : bytes) {
            if (b != 0) {
                ++used;
                break;
            }
        }
    }
    std::printf("macro slots in use: %d of %d\n", used, dcsim::kMacroSlotCount);
    std::printf("pending notifications: %lu\n", static_cast<unsigned long>(state.pending.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    std::array<std::uint8_t, dcsim::kReportSize> report{};
    if (command == "report") {
        if (argc != 3 || !dcsim::parseReport(argv[2], report))
            return usage();
    } else if (argc != 2 || (command != "plug" && command != "unplug" && command != "status")) {
        return usage();
    }

    const dcsim::StateFile file(dcsim::defaultStatePath());
    const dcsim::StateFile::Lock lock(file);
    dcsim::DeviceState state;
    const auto loaded = file.load(state);
    if (loaded == dcsim::StateFile::LoadResult::Unreadable) {
        std::fprintf(stderr, "dcsim: cannot read %s\n", file.path().string().c_str());
        return 1;
    }
    if (loaded == dcsim::StateFile::LoadResult::SetAside)
        std::fprintf(stderr, "dcsim: %s was damaged and is kept as .bad\n",
                     file.path().string().c_str());
    if (loaded != dcsim::StateFile::LoadResult::Loaded)
        state = dcsim::factoryState();

    if (command == "status") {
        printStatus(file, state, loaded == dcsim::StateFile::LoadResult::Loaded);
        return 0;
    }

    dcsim::Notification notification;
    if (command == "plug") {
        if (!dcsim::plugIn(state)) {
            std::printf("already plugged\n");
            return 0;
        }
        notification.kind = dcsim::Notification::Kind::Plug;
    } else if (command == "unplug") {
        if (!dcsim::unplug(state)) {
            std::printf("already unplugged\n");
            return 0;
        }
        notification.kind = dcsim::Notification::Kind::Unplug;
    } else {
        if (!state.plugged || state.mode != dcsim::Mode::Normal) {
            std::fprintf(stderr, "dcsim: the mouse is not attached; no report sent\n");
            return 1;
        }
        notification.kind = dcsim::Notification::Kind::Report;
        notification.report = report;
    }
    dcsim::queueNotification(state, notification);
    if (!file.save(state)) {
        std::fprintf(stderr, "dcsim: cannot write %s\n", file.path().string().c_str());
        return 1;
    }
    return 0;
}
