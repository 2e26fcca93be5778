#include "platform/win32/filter_driver.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

namespace win32 {

namespace {

static_assert(sizeof(HANDLE) <= 8, "the set-event input holds the handle in 8 bytes");

bool validDevice(int device) {
    return isKeyboardDevice(device) || isMouseDevice(device);
}

DWORD recordSize(int device) {
    return isKeyboardDevice(device) ? kKeyboardRecordSize : kMouseRecordSize;
}

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, static_cast<std::uint16_t>(value));
    put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t get32(const std::uint8_t* at) {
    return get16(at) | (static_cast<std::uint32_t>(get16(at + 2)) << 16);
}

// Unit id, reserved and raw buttons stay zero: the records come zero-filled.
void encode(int device, const Stroke& stroke, std::uint8_t* record) {
    if (isKeyboardDevice(device)) {
        put16(record + 2, stroke.key.code);
        put16(record + 4, stroke.key.state);
        put32(record + 8, stroke.key.information);
    } else {
        put16(record + 2, stroke.mouse.flags);
        put16(record + 4, stroke.mouse.state);
        put16(record + 6, static_cast<std::uint16_t>(stroke.mouse.rolling));
        put32(record + 12, static_cast<std::uint32_t>(stroke.mouse.x));
        put32(record + 16, static_cast<std::uint32_t>(stroke.mouse.y));
        put32(record + 20, stroke.mouse.information);
    }
}

void decode(int device, const std::uint8_t* record, Stroke& stroke) {
    if (isKeyboardDevice(device)) {
        stroke.key = KeyStroke();
        stroke.key.code = get16(record + 2);
        stroke.key.state = get16(record + 4);
        stroke.key.information = get32(record + 8);
    } else {
        stroke.mouse = MouseStroke();
        stroke.mouse.flags = get16(record + 2);
        stroke.mouse.state = get16(record + 4);
        stroke.mouse.rolling = static_cast<std::int16_t>(get16(record + 6));
        stroke.mouse.x = static_cast<std::int32_t>(get32(record + 12));
        stroke.mouse.y = static_cast<std::int32_t>(get32(record + 16));
        stroke.mouse.information = get32(record + 20);
    }
}

// The records of `count` strokes of `device`, zero-filled on the process heap; null when the
// size does not fit the driver call or the heap refuses.
std::uint8_t* allocateRecords(int device, int count, DWORD& bytes) {
    const DWORD size = recordSize(device);
    if (static_cast<unsigned>(count) > MAXDWORD / size) {
        return nullptr;
    }
    bytes = static_cast<DWORD>(count) * size;
    return static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
}

// A channel that failed to open holds INVALID_HANDLE_VALUE, which is no handle to close.
void closeHandle(const FilterDriverCalls& calls, HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) {
        calls.closeHandle(handle);
    }
}

}  // namespace

FilterChannel* openFilterContext(const FilterDriverCalls& calls) {
    auto* table = static_cast<FilterChannel*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FilterChannel) * kFilterDeviceCount));
    if (table == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < kFilterDeviceCount; ++i) {
        char name[] = "\\\\.\\interception00";
        name[sizeof name - 3] = static_cast<char>('0' + i / 10);
        name[sizeof name - 2] = static_cast<char>('0' + i % 10);
        table[i].device =
            calls.createFile(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        table[i].event = calls.createEvent(nullptr, TRUE, FALSE, nullptr);
        if (table[i].device == nullptr || table[i].event == nullptr) {
            closeFilterContext(calls, table);
            return nullptr;
        }
        // The handle, zero-extended to 8 bytes.
        std::uint8_t input[8] = {};
        std::memcpy(input, &table[i].event, sizeof(HANDLE));
        DWORD returned = 0;
        if (!calls.deviceIoControl(table[i].device, kFilterSetEvent, input, sizeof input, nullptr,
                                   0, &returned, nullptr)) {
            closeFilterContext(calls, table);
            return nullptr;
        }
    }
    return table;
}

void closeFilterContext(const FilterDriverCalls& calls, FilterChannel* table) {
    if (table == nullptr) {
        return;
    }
    // Handles are filled in order, so the first null one ends what was opened.
    for (int i = 0; i < kFilterDeviceCount; ++i) {
        if (table[i].device == nullptr) {
            break;
        }
        closeHandle(calls, table[i].device);
        if (table[i].event == nullptr) {
            break;
        }
        closeHandle(calls, table[i].event);
    }
    HeapFree(GetProcessHeap(), 0, table);
}

}  // namespace win32

Win32FilterContext::Win32FilterContext(win32::FilterDriverCalls calls, win32::FilterChannel* table)
    : calls_(std::move(calls)), table_(table) {}

Win32FilterContext::~Win32FilterContext() {
    win32::closeFilterContext(calls_, table_);
}

void Win32FilterContext::setStrokeFilter(const std::function<bool(int device)>& predicate,
                                         std::uint16_t mask) {
    if (table_ == nullptr) {
        return;
    }
    for (int device = 1; device <= kFilterDeviceCount; ++device) {
        if (predicate(device)) {
            std::uint8_t input[2];
            win32::put16(input, mask);
            DWORD returned = 0;
            calls_.deviceIoControl(table_[device - 1].device, win32::kFilterSetFilter, input,
                                   sizeof input, nullptr, 0, &returned, nullptr);
        }
    }
}

int Win32FilterContext::waitForStroke() {
    if (table_ == nullptr) {
        return 0;
    }
    HANDLE events[kFilterDeviceCount];
    for (int i = 0; i < kFilterDeviceCount; ++i) {
        events[i] = table_[i].event;
    }
    const DWORD result = calls_.waitForMultipleObjects(kFilterDeviceCount, events, FALSE, INFINITE);
    // WAIT_FAILED, WAIT_TIMEOUT and anything else outside the signalled range give no device.
    const DWORD index = result - WAIT_OBJECT_0;
    return index < kFilterDeviceCount ? static_cast<int>(index) + 1 : 0;
}

int Win32FilterContext::sendStrokes(int device, const Stroke* strokes, int count) {
    if (table_ == nullptr || strokes == nullptr || count <= 0 || !win32::validDevice(device)) {
        return 0;
    }
    DWORD bytes = 0;
    std::uint8_t* records = win32::allocateRecords(device, count, bytes);
    if (records == nullptr) {
        return 0;
    }
    const DWORD size = win32::recordSize(device);
    for (int i = 0; i < count; ++i) {
        win32::encode(device, strokes[i], records + i * size);
    }
    DWORD returned = 0;
    if (!calls_.deviceIoControl(table_[device - 1].device, win32::kFilterWriteStrokes, records,
                                bytes, nullptr, 0, &returned, nullptr)) {
        returned = 0;
    }
    HeapFree(GetProcessHeap(), 0, records);
    return static_cast<int>(std::min(returned, bytes) / size);
}

int Win32FilterContext::receiveStrokes(int device, Stroke* strokes, int capacity) {
    if (table_ == nullptr || strokes == nullptr || capacity <= 0 || !win32::validDevice(device)) {
        return 0;
    }
    DWORD bytes = 0;
    std::uint8_t* records = win32::allocateRecords(device, capacity, bytes);
    if (records == nullptr) {
        return 0;
    }
    DWORD returned = 0;
    if (!calls_.deviceIoControl(table_[device - 1].device, win32::kFilterReadStrokes, nullptr, 0,
                                records, bytes, &returned, nullptr)) {
        returned = 0;
    }
    const DWORD size = win32::recordSize(device);
    const int read = static_cast<int>(std::min(returned, bytes) / size);
    for (int i = 0; i < read; ++i) {
        win32::decode(device, records + i * size, strokes[i]);
    }
    HeapFree(GetProcessHeap(), 0, records);
    return read;
}

std::size_t Win32FilterContext::readHardwareId(int device, void* buffer, std::size_t size) {
    if (table_ == nullptr || !win32::validDevice(device)) {
        return 0;
    }
    const DWORD capacity = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD returned = 0;
    if (!calls_.deviceIoControl(table_[device - 1].device, win32::kFilterGetHardwareId, nullptr, 0,
                                buffer, capacity, &returned, nullptr)) {
        return 0;
    }
    return std::min(returned, capacity);
}

void Win32FilterContext::wake() {
    if (table_ != nullptr) {
        calls_.setEvent(table_[0].event);
    }
}

Win32FilterDriver::Win32FilterDriver(win32::FilterDriverCalls calls) : calls_(std::move(calls)) {}

std::unique_ptr<FilterContext> Win32FilterDriver::open() {
    win32::FilterChannel* table = win32::openFilterContext(calls_);
    if (table == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32FilterContext>(calls_, table);
}

}  // namespace platform
