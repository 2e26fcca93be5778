#include "sim/libdc/sim_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace dcsim {
namespace {

constexpr char kStateHeader[] = "velmora-dcsim-state 1";
// The state file stores memory and flash in chunks of this size, leaving out blank chunks.
constexpr int kChunk = 64;
constexpr int kFactoryImageSize = 1024;

bool inRange(long long offset, long long size, long long limit) {
    return offset >= 0 && size >= 0 && offset + size <= limit;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

bool parseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.empty() || text.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

bool parseNumber(const std::string& text, int base, long long limit, long long& value) {
    if (text.empty() || text.size() > 12)
        return false;
    value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0 || digit >= base)
            return false;
        value = value * base + digit;
    }
    return value <= limit;
}

void writeChunks(std::ostringstream& out, const char* keyword,
                 const std::vector<std::uint8_t>& bytes, std::uint8_t blank) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += kChunk) {
        const std::size_t size = std::min<std::size_t>(kChunk, bytes.size() - offset);
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        if (std::all_of(begin, begin + static_cast<std::ptrdiff_t>(size),
                        [blank](std::uint8_t b) { return b == blank; }))
            continue;
        out << keyword << ' ' << std::hex << offset << std::dec << ' '
            << hexBytes(bytes.data() + offset, size) << '\n';
    }
}

bool readChunk(std::istringstream& line, std::vector<std::uint8_t>& target) {
    std::string addressText, dataText;
    long long address = 0;
    std::vector<std::uint8_t> data;
    if (!(line >> addressText >> dataText))
        return false;
    if (!parseNumber(addressText, 16, static_cast<long long>(target.size()), address))
        return false;
    if (!parseHexBytes(dataText, data))
        return false;
    if (!inRange(address, static_cast<long long>(data.size()),
                 static_cast<long long>(target.size())))
        return false;
    std::copy(data.begin(), data.end(), target.begin() + address);
    return true;
}

}  // namespace

int propertySize(int id) {
    return vm100::propertySize(id);
}

std::uint32_t imageCheck(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += bytes[i];
    return sum;
}

DeviceState factoryState() {
    DeviceState state;
    for (int id = kPropButtonFirst; id <= kPropButtonLast; ++id)
        state.properties[id].assign(kButtonSize, 0);
    const std::uint8_t buttons[][2] = {{0x01, 0x01}, {0x01, 0x02}, {0x01, 0x04}, {0x01, 0x08},
                                       {0x01, 0x10}, {0x03, 0x01}, {0x03, 0x02}};
    for (int i = 0; i < 7; ++i) {
        state.properties[kPropButtonFirst + i][0] = buttons[i][0];
        state.properties[kPropButtonFirst + i][1] = buttons[i][1];
    }
    state.properties[kPropReportRate] = {1};
    state.properties[kPropLighting] = {1, 100, 3, 0x00, 0x80, 0xFF, 0, 1, 0, 0};
    state.properties[kPropDebounce] = {4, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    state.properties[kPropSound] = {1, 50, 0, 0, 0, 0, 0, 0, 0, 0};
    state.properties[kPropDpiLevel] = {1};
    const int dpiSteps[] = {400 / 50, 800 / 50, 1600 / 50, 3200 / 50, 6400 / 50};
    for (int i = 0; i <= kPropDpiLast - kPropDpiFirst; ++i) {
        const auto step = static_cast<std::uint8_t>(dpiSteps[i]);
        state.properties[kPropDpiFirst + i] = {1, step, 0, step, 0, 0, 0, 0};
    }
    state.memory.assign(kMemorySize, 0);
    state.flash.assign(kFlashSize, 0xFF);
    for (int i = 0; i < kFactoryImageSize; ++i)
        state.flash[i] = static_cast<std::uint8_t>((i * 31 + 7) & 0xFF);
    state.firmwareSize = kFactoryImageSize;
    state.firmwareCheck = imageCheck(state.flash.data(), kFactoryImageSize);
    return state;
}

std::string versionText(const DeviceState& state) {
    char text[16];
    std::snprintf(text, sizeof text, "V1.%02d", state.firmwareRevision % 100);
    return text;
}

const char16_t* presentId(const DeviceState& state) {
    return state.mode == Mode::Normal ? kDeviceId : kLoaderId;
}

const char16_t* presentPath(const DeviceState& state) {
    return state.mode == Mode::Normal ? kDevicePath : kLoaderPath;
}

int readProperty(const DeviceState& state, int id, std::uint8_t* out, int size) {
    const auto it = state.properties.find(id);
    if (it == state.properties.end())
        return kUnknownTarget;
    if (!inRange(0, size, static_cast<long long>(it->second.size())))
        return kOutOfRange;
    std::copy_n(it->second.begin(), size, out);
    return kOk;
}

int writeProperty(DeviceState& state, int id, const std::uint8_t* in, int size) {
    const auto it = state.properties.find(id);
    if (it == state.properties.end())
        return kUnknownTarget;
    if (!inRange(0, size, static_cast<long long>(it->second.size())))
        return kOutOfRange;
    std::copy_n(in, size, it->second.begin());
    return kOk;
}

int readMemory(const DeviceState& state, int address, std::uint8_t* out, int size) {
    if (!inRange(address, size, static_cast<long long>(state.memory.size())))
        return kOutOfRange;
    std::copy_n(state.memory.begin() + address, size, out);
    return kOk;
}

int writeMemory(DeviceState& state, int address, const std::uint8_t* in, int size) {
    if (!inRange(address, size, static_cast<long long>(state.memory.size())))
        return kOutOfRange;
    std::copy_n(in, size, state.memory.begin() + address);
    return kOk;
}

void eraseFlash(DeviceState& state) {
    std::fill(state.flash.begin(), state.flash.end(), 0xFF);
    state.firmwareValid = false;
    state.imageVerified = false;
}

int programFlash(DeviceState& state, int offset, const std::uint8_t* in, int length) {
    if (length > kMaxTransfer)
        return kBadArgument;
    if (!inRange(offset, length, static_cast<long long>(state.flash.size())))
        return kOutOfRange;
    for (int i = 0; i < length; ++i) {
        if ((state.flash[offset + i] & in[i]) != in[i])
            return kProgramFailed;
    }
    std::copy_n(in, length, state.flash.begin() + offset);
    state.imageVerified = false;
    if (state.pullAfterBlocks > 0 && --state.pullAfterBlocks == 0)
        unplug(state);
    return kOk;
}

int checkImage(DeviceState& state, int size, std::uint32_t check) {
    if (size <= 0 || size > static_cast<int>(state.flash.size()))
        return kOutOfRange;
    if (imageCheck(state.flash.data(), static_cast<std::size_t>(size)) != check) {
        state.imageVerified = false;
        return kCheckFailed;
    }
    state.imageVerified = true;
    state.verifiedSize = static_cast<std::uint32_t>(size);
    state.verifiedCheck = check;
    return kOk;
}

int finishUpdate(DeviceState& state) {
    // Only now is a new image marked valid: a power cut before leaves the loader in charge.
    if (state.imageVerified) {
        state.firmwareValid = true;
        state.firmwareSize = state.verifiedSize;
        state.firmwareCheck = state.verifiedCheck;
        ++state.firmwareRevision;
        state.imageVerified = false;
    } else if (!state.firmwareValid) {
        return kNoFirmware;
    }
    state.mode = Mode::Normal;
    return kOk;
}

bool plugIn(DeviceState& state) {
    if (state.plugged)
        return false;
    state.plugged = true;
    restart(state);
    return true;
}

bool unplug(DeviceState& state) {
    if (!state.plugged)
        return false;
    state.plugged = false;
    return true;
}

void enterLoader(DeviceState& state) {
    state.mode = Mode::Loader;
    state.imageVerified = false;
}

void restart(DeviceState& state) {
    state.mode = state.firmwareValid ? Mode::Normal : Mode::Loader;
    state.imageVerified = false;
}

void queueNotification(DeviceState& state, const Notification& notification) {
    state.pending.push_back(notification);
    while (state.pending.size() > kMaxPending)
        state.pending.pop_front();
}

bool parseReport(const std::string& text, std::array<std::uint8_t, kReportSize>& report) {
    std::vector<std::uint8_t> bytes;
    if (text.size() != kReportSize * 2 || !parseHexBytes(text, bytes))
        return false;
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return true;
}

std::string reportText(const std::array<std::uint8_t, kReportSize>& report) {
    return hexBytes(report.data(), report.size());
}

std::string serializeState(const DeviceState& state) {
    std::ostringstream out;
    out << kStateHeader << '\n';
    out << "plugged " << (state.plugged ? 1 : 0) << '\n';
    out << "mode " << (state.mode == Mode::Normal ? "normal" : "loader") << '\n';
    out << "firmware " << (state.firmwareValid ? 1 : 0) << ' ' << state.firmwareSize << ' '
        << state.firmwareCheck << ' ' << state.firmwareRevision << '\n';
    out << "verified " << (state.imageVerified ? 1 : 0) << ' ' << state.verifiedSize << ' '
        << state.verifiedCheck << '\n';
    out << "pull " << state.pullAfterBlocks << '\n';
    for (const auto& [id, bytes] : state.properties)
        out << "prop " << id << ' ' << hexBytes(bytes.data(), bytes.size()) << '\n';
    writeChunks(out, "mem", state.memory, 0x00);
    writeChunks(out, "flash", state.flash, 0xFF);
    for (const Notification& n : state.pending) {
        switch (n.kind) {
            case Notification::Kind::Plug:
                out << "pending plug\n";
                break;
            case Notification::Kind::Unplug:
                out << "pending unplug\n";
                break;
            case Notification::Kind::Report:
                out << "pending report " << reportText(n.report) << '\n';
                break;
        }
    }
    out << "end\n";
    return out.str();
}

bool parseState(const std::string& text, DeviceState& result) {
    DeviceState state = factoryState();
    std::fill(state.memory.begin(), state.memory.end(), 0x00);
    std::fill(state.flash.begin(), state.flash.end(), 0xFF);
    std::istringstream in(text);
    std::string lineText;
    if (!std::getline(in, lineText) || lineText != kStateHeader)
        return false;
    bool ended = false;
    while (std::getline(in, lineText)) {
        if (ended)
            return false;
        std::istringstream line(lineText);
        std::string keyword;
        line >> keyword;
        bool ok = true;
        if (keyword == "end") {
            ended = true;
        } else if (keyword == "plugged") {
            int value = -1;
            ok = static_cast<bool>(line >> value) && (value == 0 || value == 1);
            state.plugged = value == 1;
        } else if (keyword == "mode") {
            std::string mode;
            line >> mode;
            ok = mode == "normal" || mode == "loader";
            state.mode = mode == "loader" ? Mode::Loader : Mode::Normal;
        } else if (keyword == "firmware") {
            int valid = -1;
            ok = static_cast<bool>(line >> valid >> state.firmwareSize >> state.firmwareCheck >>
                                   state.firmwareRevision) &&
                 (valid == 0 || valid == 1) && state.firmwareRevision >= 0;
            state.firmwareValid = valid == 1;
        } else if (keyword == "verified") {
            int verified = -1;
            ok = static_cast<bool>(line >> verified >> state.verifiedSize >> state.verifiedCheck) &&
                 (verified == 0 || verified == 1);
            state.imageVerified = verified == 1;
        } else if (keyword == "pull") {
            ok = static_cast<bool>(line >> state.pullAfterBlocks) && state.pullAfterBlocks >= 0;
        } else if (keyword == "prop") {
            std::string idText, dataText;
            long long id = 0;
            std::vector<std::uint8_t> data;
            ok = static_cast<bool>(line >> idText >> dataText) &&
                 parseNumber(idText, 10, 1000, id) && parseHexBytes(dataText, data) &&
                 static_cast<int>(data.size()) == propertySize(static_cast<int>(id));
            if (ok)
                state.properties[static_cast<int>(id)] = data;
        } else if (keyword == "mem") {
            ok = readChunk(line, state.memory);
        } else if (keyword == "flash") {
            ok = readChunk(line, state.flash);
        } else if (keyword == "pending") {
            std::string kind, data;
            Notification n;
            line >> kind;
            if (kind == "plug") {
                n.kind = Notification::Kind::Plug;
            } else if (kind == "unplug") {
                n.kind = Notification::Kind::Unplug;
            } else {
                ok = kind == "report" && static_cast<bool>(line >> data) &&
                     parseReport(data, n.report);
            }
            if (ok)
                queueNotification(state, n);
        } else {
            ok = false;
        }
        std::string rest;
        if (!ok || (line >> rest))
            return false;
    }
    if (!ended)
        return false;
    result = std::move(state);
    return true;
}

}  // namespace dcsim
