#include "platform/sim/input_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

// A queue of kMaxWaitingStrokes lines is a few tens of kilobytes; more was not written by us.
constexpr std::size_t kMaxQueueBytes = 64u << 10;
constexpr std::size_t kMaxRecordRead = 64u << 20;
constexpr std::size_t kMaxNumberDigits = 5;

// An open regular file, locked (shared for reading, exclusive for writing) until destroyed.
class LockedFile {
  public:
    enum class Mode { Read, Write, WriteExisting };

    LockedFile(const fs::path& path, Mode mode) {
        const int flags = mode == Mode::Read            ? O_RDONLY
                          : mode == Mode::WriteExisting ? O_RDWR
                                                        : O_RDWR | O_CREAT;
        fd_ = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd_ < 0) {
            missing_ = errno == ENOENT;
            return;
        }
        // Anything but a plain file (a FIFO would block a read) is not one of ours.
        struct stat info;
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            close();
            return;
        }
        int result;
        do {
            result = ::flock(fd_, mode == Mode::Read ? LOCK_SH : LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0)
            close();
    }
    ~LockedFile() { close(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool open() const { return fd_ >= 0; }
    bool missing() const { return missing_; }

    bool size(std::uintmax_t& bytes) const {
        struct stat info;
        if (::fstat(fd_, &info) != 0)
            return false;
        bytes = static_cast<std::uintmax_t>(info.st_size);
        return true;
    }

    // Up to `limit` bytes from `offset`; `whole` tells whether the file ended within them.
    bool read(std::uintmax_t offset, std::size_t limit, std::string& text, bool& whole) const {
        text.clear();
        std::vector<char> buffer(64u << 10);
        for (;;) {
            const std::size_t wanted = std::min(buffer.size(), limit - text.size() + 1);
            const ssize_t got =
                ::pread(fd_, buffer.data(), wanted, static_cast<off_t>(offset + text.size()));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0) {
                whole = true;
                return true;
            }
            text.append(buffer.data(), static_cast<std::size_t>(got));
            if (text.size() > limit) {
                text.resize(limit);
                whole = false;
                return true;
            }
        }
    }

    bool writeAt(std::uintmax_t offset, const std::string& text) const {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t wrote = ::pwrite(fd_, text.data() + done, text.size() - done,
                                           static_cast<off_t>(offset + done));
            if (wrote < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    // Written over the old content, then cut: a crash in between leaves old lines doubled,
    // never lost ones.
    bool replace(const std::string& text) const {
        return writeAt(0, text) && ::ftruncate(fd_, static_cast<off_t>(text.size())) == 0;
    }

  private:
    void close() {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
        fd_ = -1;
    }

    int fd_ = -1;
    bool missing_ = false;
};

bool parseNumber(const std::string& text, unsigned long maximum, unsigned long& value) {
    if (text.empty() || text.size() > kMaxNumberDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= maximum;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        result.push_back(line.substr(start, space - start));
        if (space == std::string::npos)
            return result;
        start = space + 1;
    }
}

// The valid stroke lines of a queue file, oldest first.
struct Queue {
    std::vector<SimStroke> strokes;
    bool clean = true;  // nothing to drop
};

bool readQueue(const LockedFile& file, Queue& queue) {
    std::string text;
    bool whole = false;
    if (!file.read(0, kMaxQueueBytes, text, whole))
        return false;
    queue.clean = whole;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            // A piece cut off by the size limit is no stroke.
            if (!whole) {
                queue.clean = false;
                break;
            }
            end = text.size();
        }
        SimStroke stroke;
        if (parseStrokeLine(text.substr(start, end - start), stroke))
            queue.strokes.push_back(stroke);
        else
            queue.clean = false;
        start = end + 1;
    }
    return true;
}

bool writeQueue(const LockedFile& file, const std::vector<SimStroke>& strokes) {
    std::string text;
    for (const SimStroke& stroke : strokes)
        text += strokeLine(stroke) + '\n';
    return file.replace(text);
}

fs::path sibling(const fs::path& stateFile, const char* extension) {
    fs::path path = stateFile;
    path.replace_extension(extension);
    return path;
}

}  // namespace

SimInputFiles simInputFiles(const fs::path& stateFile) {
    SimInputFiles files;
    files.strokes = sibling(stateFile, ".strokes");
    files.passed = sibling(stateFile, ".passed");
    files.reports = sibling(stateFile, ".reports");
    files.mouseSettings = sibling(stateFile, ".mouse");
    return files;
}

std::string strokeLine(const SimStroke& stroke) {
    std::ostringstream line;
    if (isMouseDevice(stroke.device)) {
        line << "mouse " << stroke.device << ' ' << stroke.stroke.mouse.state;
    } else {
        line << "key " << stroke.device << ' ' << stroke.stroke.key.code << ' '
             << stroke.stroke.key.state;
    }
    return line.str();
}

bool parseStrokeLine(const std::string& line, SimStroke& stroke) {
    const std::vector<std::string> parts = words(line);
    unsigned long device = 0, code = 0, state = 0;
    if (parts.size() == 3 && parts[0] == "mouse") {
        if (!parseNumber(parts[1], kFilterDeviceCount, device) ||
            !isMouseDevice(static_cast<int>(device)) || !parseNumber(parts[2], 0xFFFF, state))
            return false;
        stroke = SimStroke();
        stroke.device = static_cast<int>(device);
        stroke.stroke.mouse.state = static_cast<std::uint16_t>(state);
        return true;
    }
    if (parts.size() == 4 && parts[0] == "key") {
        if (!parseNumber(parts[1], kFilterDeviceCount, device) ||
            !isKeyboardDevice(static_cast<int>(device)) || !parseNumber(parts[2], 0xFFFF, code) ||
            !parseNumber(parts[3], 0xFFFF, state))
            return false;
        stroke = SimStroke();
        stroke.device = static_cast<int>(device);
        stroke.stroke.key = KeyStroke();
        stroke.stroke.key.code = static_cast<std::uint16_t>(code);
        stroke.stroke.key.state = static_cast<std::uint16_t>(state);
        return true;
    }
    return false;
}

bool feedStroke(const fs::path& path, const SimStroke& stroke, bool& dropped) {
    dropped = false;
    const LockedFile file(path, LockedFile::Mode::Write);
    Queue queue;
    if (!file.open() || !readQueue(file, queue))
        return false;
    queue.strokes.push_back(stroke);
    if (queue.strokes.size() > kMaxWaitingStrokes) {
        queue.strokes.erase(queue.strokes.begin(),
                            queue.strokes.end() - static_cast<std::ptrdiff_t>(kMaxWaitingStrokes));
        dropped = true;
    }
    return writeQueue(file, queue.strokes);
}

int firstWaitingDevice(const fs::path& path) {
    const LockedFile file(path, LockedFile::Mode::Read);
    Queue queue;
    if (!file.open() || !readQueue(file, queue) || queue.strokes.empty())
        return 0;
    return queue.strokes.front().device;
}

int takeStrokes(const fs::path& path, int device, Stroke* strokes, int capacity) {
    if (capacity < 1 || !strokes)
        return 0;
    const LockedFile file(path, LockedFile::Mode::WriteExisting);
    Queue queue;
    if (!file.open() || !readQueue(file, queue))
        return 0;
    int taken = 0;
    std::vector<SimStroke> kept;
    for (const SimStroke& waiting : queue.strokes) {
        if (waiting.device == device && taken < capacity)
            strokes[taken++] = waiting.stroke;
        else
            kept.push_back(waiting);
    }
    if ((taken > 0 || !queue.clean) && !writeQueue(file, kept))
        return 0;  // left waiting rather than delivered twice
    return taken;
}

std::size_t waitingStrokes(const fs::path& path) {
    const LockedFile file(path, LockedFile::Mode::Read);
    Queue queue;
    if (!file.open() || !readQueue(file, queue))
        return 0;
    return queue.strokes.size();
}

bool appendRecord(const fs::path& path, const std::string& lines, std::uintmax_t limit) {
    const LockedFile file(path, LockedFile::Mode::Write);
    std::uintmax_t size = 0;
    if (!file.open() || !file.size(size) || !file.writeAt(size, lines))
        return false;
    size += lines.size();
    if (size <= limit)
        return true;
    // Keep the newest half, from its first whole line on.
    const std::uintmax_t keep = limit / 2;
    std::string tail;
    bool whole = false;
    if (!file.read(size - keep, static_cast<std::size_t>(keep), tail, whole))
        return true;  // the line is in; trimming waits for the next append
    const std::size_t lineStart = tail.find('\n');
    return file.replace(lineStart == std::string::npos ? std::string()
                                                       : tail.substr(lineStart + 1));
}

bool readRecord(const fs::path& path, std::string& text) {
    text.clear();
    const LockedFile file(path, LockedFile::Mode::Read);
    if (!file.open())
        return file.missing();
    bool whole = false;
    return file.read(0, kMaxRecordRead, text, whole);
}

bool clearRecord(const fs::path& path) {
    const LockedFile file(path, LockedFile::Mode::WriteExisting);
    if (!file.open())
        return file.missing();
    return file.replace(std::string());
}

std::int64_t monotonicMilliseconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string reportLine(std::int64_t milliseconds, const ControlReport& report) {
    static const char kDigits[] = "0123456789abcdef";
    std::string line = std::to_string(milliseconds);
    line += ' ';
    for (std::uint8_t byte : report) {
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0x0F];
    }
    return line;
}

}  // namespace platform
