#include "base/engine_log.h"

#include <QDateTime>
#include <QFile>
#include <atomic>
#include <mutex>

namespace engine {
namespace {

// A standard mutex, not QMutex: every thread logs, and the thread sanitizer sees only these.
std::mutex fileMutex;
QFile* logFile = nullptr;
std::atomic<int> minimum{static_cast<int>(LogSeverity::Info)};

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

void Log::write(LogSeverity severity, const char* sourceFile, int line, const QString& text) {
    if (!admits(severity))
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("MMdd/hhmmss.zzz"));
    const QByteArray entry =
        QStringLiteral("[%1:%2:%3(%4)] %5\n")
            .arg(stamp, QLatin1String(severityName(severity)), QLatin1String(baseName(sourceFile)),
                 QString::number(line), text)
            .toUtf8();
    const std::lock_guard<std::mutex> lock(fileMutex);
    if (!logFile)
        return;
    logFile->write(entry);
    logFile->flush();
}

}  // namespace engine
