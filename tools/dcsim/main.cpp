// Control command of the simulated devices: changes the device's state file, which the running
// device library watches and turns into device events and data reports; feeds strokes to the
// simulated filter driver and reads what it passed on and what the virtual HID device received.

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "device/vm100_properties.h"
#include "platform/sim/input_files.h"
#include "platform/sim/sim_state.h"
#include "sim/libdc/sim_device.h"
#include "sim/libdc/state_file.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: dcsim plug | unplug | loader | report <16 hex digits> | status\n"
                 "       dcsim pull-after-blocks <count, 0 disarms>\n"
                 "       dcsim stroke mouse <device 11-20> <state>\n"
                 "       dcsim stroke key <device 1-10> <scan code> <state>\n"
                 "       dcsim passed [--clear] | reports [--clear]\n"
                 "Numbers are decimal; states and scan codes are 0-65535.\n");
    return 2;
}

int stroke(const platform::SimInputFiles& files, int argc, char** argv) {
    // The line form of the queue, built from the arguments: an argument must be one word.
    std::string line;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]).find_first_of(" \t\r\n") != std::string::npos)
            return usage();
        line += (i > 2 ? " " : "") + std::string(argv[i]);
    }
    platform::SimStroke stroke;
    if (!platform::parseStrokeLine(line, stroke))
        return usage();
    bool dropped = false;
    if (!platform::feedStroke(files.strokes, stroke, dropped)) {
        std::fprintf(stderr, "dcsim: cannot write %s\n", files.strokes.string().c_str());
        return 1;
    }
    if (dropped)
        std::fprintf(stderr, "dcsim: %lu strokes wait unread; the oldest was dropped\n",
                     static_cast<unsigned long>(platform::kMaxWaitingStrokes));
    return 0;
}

// "passed" and "reports": the record, or with --clear an empty one.
int record(const std::filesystem::path& path, int argc, char** argv) {
    if (argc == 3 && std::string(argv[2]) == "--clear") {
        if (platform::clearRecord(path))
            return 0;
        std::fprintf(stderr, "dcsim: cannot clear %s\n", path.string().c_str());
        return 1;
    }
    if (argc != 2)
        return usage();
    std::string text;
    if (!platform::readRecord(path, text)) {
        std::fprintf(stderr, "dcsim: cannot read %s\n", path.string().c_str());
        return 1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

std::string narrow(const char16_t* text) {
    std::string result;
    for (; *text; ++text)
        result.push_back(static_cast<char>(*text));
    return result;
}

// A block count of at most four decimal digits: more than the flash has blocks.
bool parseCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    count = std::stoi(text);
    return true;
}

int dpiOf(const dcsim::DeviceState& state, int id) {
    std::uint8_t bytes[8] = {};
    dcsim::readProperty(state, id, bytes, 8);
    return (bytes[1] | bytes[2] << 8) * vm100::kDpiStep;
}

void printStatus(const dcsim::StateFile& file, const dcsim::DeviceState& state, bool saved) {
    std::printf("state file: %s%s\n", file.path().string().c_str(),
                saved ? "" : " (not written yet: factory state)");
    std::printf("plugged: %s\n", state.plugged ? "yes" : "no");
    std::printf("mode: %s\n", state.mode == dcsim::Mode::Normal ? "normal" : "loader");
    std::printf("device id: %s\n", narrow(dcsim::presentId(state)).c_str());
    std::printf("firmware: %s, %u bytes, check 0x%08x%s\n", dcsim::versionText(state).c_str(),
                state.firmwareSize, state.firmwareCheck, state.firmwareValid ? "" : " (erased)");
    if (state.pullAfterBlocks > 0)
        std::printf("pulled out after %d more written blocks\n", state.pullAfterBlocks);
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
    for (int device : {platform::kSimMouseDevice, platform::kSimKeyboardDevice}) {
        std::printf("filter device %d: %s\n", device,
                    platform::simFilterHardwareId(device).c_str());
    }
    std::printf("waiting strokes: %lu\n", static_cast<unsigned long>(platform::waitingStrokes(
                                              platform::simInputFiles(file.path()).strokes)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    const platform::SimInputFiles files = platform::simInputFiles(dcsim::defaultStatePath());
    if (command == "stroke")
        return stroke(files, argc, argv);
    if (command == "passed")
        return record(files.passed, argc, argv);
    if (command == "reports")
        return record(files.reports, argc, argv);

    std::array<std::uint8_t, dcsim::kReportSize> report{};
    int pullAfterBlocks = 0;
    if (command == "report") {
        if (argc != 3 || !dcsim::parseReport(argv[2], report))
            return usage();
    } else if (command == "pull-after-blocks") {
        if (argc != 3 || !parseCount(argv[2], pullAfterBlocks))
            return usage();
    } else if (argc != 2 || (command != "plug" && command != "unplug" && command != "loader" &&
                             command != "status")) {
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

    std::vector<dcsim::Notification::Kind> kinds;
    if (command == "plug") {
        if (!dcsim::plugIn(state)) {
            std::printf("already plugged\n");
            return 0;
        }
        kinds = {dcsim::Notification::Kind::Plug};
    } else if (command == "unplug") {
        if (!dcsim::unplug(state)) {
            std::printf("already unplugged\n");
            return 0;
        }
        kinds = {dcsim::Notification::Kind::Unplug};
    } else if (command == "loader") {
        if (!state.plugged) {
            std::fprintf(stderr, "dcsim: the mouse is not attached\n");
            return 1;
        }
        if (state.mode == dcsim::Mode::Loader) {
            std::printf("already in loader mode\n");
            return 0;
        }
        dcsim::enterLoader(state);
        // The mouse goes and its loader comes, as when the library restarts it.
        kinds = {dcsim::Notification::Kind::Unplug, dcsim::Notification::Kind::Plug};
    } else if (command == "pull-after-blocks") {
        state.pullAfterBlocks = pullAfterBlocks;
    } else {
        if (!state.plugged || state.mode != dcsim::Mode::Normal) {
            std::fprintf(stderr, "dcsim: the mouse is not attached; no report sent\n");
            return 1;
        }
        kinds = {dcsim::Notification::Kind::Report};
    }
    for (const dcsim::Notification::Kind kind : kinds) {
        dcsim::Notification notification;
        notification.kind = kind;
        notification.report = report;
        dcsim::queueNotification(state, notification);
    }
    if (!file.save(state)) {
        std::fprintf(stderr, "dcsim: cannot write %s\n", file.path().string().c_str());
        return 1;
    }
    return 0;
}
