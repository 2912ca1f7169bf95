// Logging.dll: the diagnostics library every Kestrane module writes through.
//
// Record forms take a LoggingData (format text, client id) and the format's
// arguments. The library formats the placeholders itself, because the C runtimes
// disagree on %s/%S in wide printf and both builds must print the same line:
//   %S 8-bit text, %s wide text, %d 32-bit signed integer, %% a percent sign;
//   anything else is copied as written (so "$s" stays "$s").
// The arguments are captured with their types (LogArg), so a format with more
// placeholders than arguments prints "(missing)" instead of reading past them.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#ifdef KESTRANE_LOGGING_BUILD
#define LOGGING_API __declspec(dllexport)
#else
#define LOGGING_API __declspec(dllimport)
#endif
#else
#include "platform/native/WinTypes.h"
#define LOGGING_API __attribute__((visibility("default")))
#endif

namespace Qv::Corvane::Logging {

struct LoggingData {
    const WCHAR* format;
    const WCHAR* clientId;
    uint64_t reserved;  // always zero when a caller fills the record itself
};

LOGGING_API LoggingData CreateLoggingData(const WCHAR* format, const WCHAR* clientId);

enum class LogLevel { Info, Warning, Error };

// One typed argument of a record-form call.
class LogArg {
public:
    enum class Kind { Narrow, Wide, Integer };
    LogArg(const char* text) : kind_(Kind::Narrow), narrow_(text) {}
    LogArg(const WCHAR* text) : kind_(Kind::Wide), wide_(text) {}
    LogArg(int value) : kind_(Kind::Integer), integer_(value) {}
    LogArg(unsigned value) : kind_(Kind::Integer), integer_(static_cast<int32_t>(value)) {}
    LogArg(long value) : kind_(Kind::Integer), integer_(static_cast<int32_t>(value)) {}
    LogArg(unsigned long value) : kind_(Kind::Integer), integer_(static_cast<int32_t>(value)) {}
    LogArg(long long value) : kind_(Kind::Integer), integer_(static_cast<int32_t>(value)) {}
    LogArg(unsigned long long value) : kind_(Kind::Integer), integer_(static_cast<int32_t>(value)) {}

    Kind kind() const { return kind_; }
    const char* narrow() const { return narrow_; }
    const WCHAR* wide() const { return wide_; }
    int32_t integer() const { return integer_; }

private:
    Kind kind_;
    union {
        const char* narrow_;
        const WCHAR* wide_;
        int32_t integer_;
    };
};

class LOGGING_API TraceLogger {
public:
    template <class... Args>
    void LogInfo(LoggingData data, const char* className, const char* operation, const Args&... args) {
        const LogArg list[] = {LogArg(className), LogArg(operation), LogArg(args)...};
        Write(LogLevel::Info, data, list, sizeof...(Args) + 2);
    }
    template <class... Args>
    void LogWarning(LoggingData data, const char* className, const char* operation, const Args&... args) {
        const LogArg list[] = {LogArg(className), LogArg(operation), LogArg(args)...};
        Write(LogLevel::Warning, data, list, sizeof...(Args) + 2);
    }
    template <class... Args>
    void LogError(LoggingData data, const char* className, const char* operation, const Args&... args) {
        const LogArg list[] = {LogArg(className), LogArg(operation), LogArg(args)...};
        Write(LogLevel::Error, data, list, sizeof...(Args) + 2);
    }

    // Plain forms: the text is written as it stands, placeholders included.
    void LogInfo(const WCHAR* text);
    void LogError(const WCHAR* text);

    void Write(LogLevel level, const LoggingData& data, const LogArg* args, std::size_t count);
};

class LOGGING_API LogManager {
public:
    static TraceLogger* GetLogger();
};

// What a sink receives: the formatted message without timestamp or ids.
struct LogRecord {
    LogLevel level;
    const WCHAR* clientId;  // never null; empty when the caller gave none
    const WCHAR* message;
};

// A process-wide observer of every record, for tests and embedding hosts.
// Called synchronously on the logging thread; one sink at a time, null removes it.
using LogSink = void (*)(void* context, const LogRecord& record);
LOGGING_API void SetLogSink(LogSink sink, void* context);

// Formats a record's message exactly as the log line shows it, into `out`
// (capacity units, always NUL-terminated); returns the full length needed.
LOGGING_API std::size_t FormatLogMessage(const WCHAR* format, const LogArg* args, std::size_t count,
                                         WCHAR* out, std::size_t capacity);

}  // namespace Qv::Corvane::Logging
