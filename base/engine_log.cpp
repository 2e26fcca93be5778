#include "base/engine_log.h"

#include <QDateTime>
#include <QFile>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <utility>

namespace engine {
namespace {

// A standard mutex, not QMutex: every thread logs, and the thread sanitizer sees only these.
std::mutex fileMutex;
QFile* logFile = nullptr;
std::atomic<int> minimum{static_cast<int>(LogSeverity::Info)};

// What one source line may add: a flood of one message (a peer repeating a bad command, say)
// must neither fill the disk nor slow the program down writing it.
constexpr int kLinesPerSitePerSecond = 100;
constexpr int kMaxTextLength = 4096;
// Past this size the file is kept as "<name>.1" (replacing an older one) and begun afresh.
constexpr qint64 kRotateSize = 16 * 1024 * 1024;

struct SiteBudget {
    std::chrono::steady_clock::time_point windowStart;
    int written = 0;
    int leftOut = 0;
};
std::map<std::pair<const char*, int>, SiteBudget> sites;

const char* severityName(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::Verbose:
            return "VERBOSE";
        case LogSeverity::Info:
            return "INFO";
        case LogSeverity::Warning:
            return "WARNING";
        case LogSeverity::Error:
            return "ERROR";
        case LogSeverity::Disable:
            break;
    }
    return "UNKNOWN";
}

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}

}  // namespace

bool Log::open(const QString& filePath, LogSeverity minimumSeverity) {
    const std::lock_guard<std::mutex> lock(fileMutex);
    minimum = static_cast<int>(minimumSeverity);
    delete logFile;
    logFile = new QFile(filePath);
    if (!logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        delete logFile;
        logFile = nullptr;
        return false;
    }
    return true;
}

void Log::close() {
    const std::lock_guard<std::mutex> lock(fileMutex);
    delete logFile;
    logFile = nullptr;
}

LogSeverity Log::minimumSeverity() {
    return static_cast<LogSeverity>(minimum.load());
}

void Log::setMinimumSeverity(LogSeverity minimumSeverity) {
    minimum = static_cast<int>(minimumSeverity);
}

bool Log::admits(LogSeverity severity) {
    return static_cast<int>(severity) >= minimum.load() && severity != LogSeverity::Disable;
}

namespace {

QByteArray entryText(LogSeverity severity, const char* sourceFile, int line, const QString& text) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("MMdd/hhmmss.zzz"));
    const QString shown =
        text.size() <= kMaxTextLength
            ? text
            : text.left(kMaxTextLength) + QStringLiteral("... (%1 characters)").arg(text.size());
    return QStringLiteral("[%1:%2:%3(%4)] %5\n")
        .arg(stamp, QLatin1String(severityName(severity)), QLatin1String(baseName(sourceFile)),
             QString::number(line), shown)
        .toUtf8();
}

// Under fileMutex. Whether the site may write now; `leftOut` gets the lines it was refused
// since it last wrote.
bool takeSiteBudget(const char* sourceFile, int line, int& leftOut) {
    const auto now = std::chrono::steady_clock::now();
    SiteBudget& budget = sites[{sourceFile, line}];
    if (now - budget.windowStart >= std::chrono::seconds(1)) {
        budget.windowStart = now;
        budget.written = 0;
    }
    if (budget.written >= kLinesPerSitePerSecond) {
        ++budget.leftOut;
        return false;
    }
    ++budget.written;
    leftOut = budget.leftOut;
    budget.leftOut = 0;
    return true;
}

// Under fileMutex.
void rotateIfFull(qint64 adding) {
    if (logFile->size() + adding <= kRotateSize)
        return;
    const QString path = logFile->fileName();
    const QString kept = path + QStringLiteral(".1");
    logFile->close();
    QFile::remove(kept);
    QFile::rename(path, kept);
    logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

}  // namespace

void Log::write(LogSeverity severity, const char* sourceFile, int line, const QString& text) {
    if (!admits(severity))
        return;
    const std::lock_guard<std::mutex> lock(fileMutex);
    if (!logFile)
        return;
    // A flood costs one budget look-up per line, not a formatted entry.
    int leftOut = 0;
    if (!takeSiteBudget(sourceFile, line, leftOut))
        return;
    QByteArray lines;
    if (leftOut > 0) {
        lines = entryText(severity, sourceFile, line,
                          QStringLiteral("(%1 lines from here left out)").arg(leftOut));
    }
    lines += entryText(severity, sourceFile, line, text);
    rotateIfFull(lines.size());
    if (!logFile->isOpen())
        return;
    logFile->write(lines);
    logFile->flush();
}

}  // namespace engine
