#pragma once

// The files through which the simulated input devices meet the dcsim tool: strokes waiting for
// the filter driver, the strokes it passed on and the reports the virtual HID device received.
// They lie beside the state file and are shared between processes under flock(2).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/filter_driver.h"
#include "platform/virtual_hid.h"

namespace platform {

struct SimInputFiles {
    std::filesystem::path strokes;        // "<stem>.strokes": fed by dcsim, taken by the filter
    std::filesystem::path passed;         // "<stem>.passed": what the filter passed on
    std::filesystem::path reports;        // "<stem>.reports": what the virtual HID received
    std::filesystem::path mouseSettings;  // "<stem>.mouse": the system's mouse settings
};

// The files beside `stateFile` (see simStateFile()), named after it.
SimInputFiles simInputFiles(const std::filesystem::path& stateFile);

struct SimStroke {
    int device = 0;
    Stroke stroke;
};

// "mouse <device> <state>" or "key <device> <scan code> <state>", decimal, no line end.
std::string strokeLine(const SimStroke& stroke);
// The reverse, strictly: a device of the right kind, numbers that fit their fields.
bool parseStrokeLine(const std::string& line, SimStroke& stroke);

// Strokes a filter has not taken yet, oldest first. A queue that nobody reads keeps at most
// this many; older ones are dropped.
constexpr std::size_t kMaxWaitingStrokes = 1000;

// Appends a stroke to the queue. False when the file cannot be written; `dropped` tells
// whether the oldest waiting stroke had to go.
bool feedStroke(const std::filesystem::path& file, const SimStroke& stroke, bool& dropped);
// The device of the oldest waiting stroke, 0 when none waits.
int firstWaitingDevice(const std::filesystem::path& file);
// Takes up to `capacity` of the oldest waiting strokes of `device`, keeping the others.
int takeStrokes(const std::filesystem::path& file, int device, Stroke* strokes, int capacity);
std::size_t waitingStrokes(const std::filesystem::path& file);

// Records are text files of lines. Appending keeps one within `limit` bytes by dropping its
// oldest half whenever it grows past it.
constexpr std::uintmax_t kPassedRecordLimit = 1u << 20;
constexpr std::uintmax_t kReportRecordLimit = 4u << 20;
bool appendRecord(const std::filesystem::path& file, const std::string& lines,
                  std::uintmax_t limit);
// A missing record reads as empty.
bool readRecord(const std::filesystem::path& file, std::string& text);
bool clearRecord(const std::filesystem::path& file);

// Milliseconds of CLOCK_MONOTONIC: every process of the machine counts from the same start.
std::int64_t monotonicMilliseconds();
// "<milliseconds> <130 lower-case hex digits>", no line end.
std::string reportLine(std::int64_t milliseconds, const ControlReport& report);

}  // namespace platform
