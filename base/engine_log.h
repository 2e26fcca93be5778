#pragma once

// base/: the ground floor every folder uses: the log facility (app.log) and small XML
// helpers. Uses nothing of the project; Qt Core and pugixml only.

#include <QString>

namespace engine {

enum class LogSeverity { Verbose = -1, Info = 0, Warning = 1, Error = 2, Disable = 99 };

// The browser engine's log facility: one file, one line per message, each tagged with the
// source file and line it came from. Safe to call from any thread.
class Log {
  public:
    // Opens (appends to) `filePath`; messages below `minimum` are not written.
    static bool open(const QString& filePath, LogSeverity minimum);
    static void close();

    static LogSeverity minimumSeverity();
    static void setMinimumSeverity(LogSeverity minimum);
    static bool admits(LogSeverity severity);

    static void write(LogSeverity severity, const char* sourceFile, int line, const QString& text);
};

}  // namespace engine

// Information lines; the text is only built when the log admits them.
#define ENGINE_LOG_INFO(text)                                                              \
    do {                                                                                   \
        if (::engine::Log::admits(::engine::LogSeverity::Info))                            \
            ::engine::Log::write(::engine::LogSeverity::Info, __FILE__, __LINE__, (text)); \
    } while (false)
