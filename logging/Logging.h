// Logging.dll: the diagnostics library every Kestrane module writes through.
//
// Record forms take a LoggingData (format text, client id) and the format's
// arguments. The library formats the placeholders itself, because the C runtimes
// disagree on %s/%S in wide printf and both builds must print the same line:
//   %S 8-bit text, %s wide text, %d 32-bit signed integer, %% a percent sign;
//   anything else is copied as written (so "$s" stays "$s").
// The arguments are captured with their types (LogArg), so a format with more
// placeholders than arguments prints "(missing)" instead of reading past them.
//
// Every text that comes from outside (each %s and %S argument, the client id, a plain
// form's text) is a field, and a field can never end a line or fake one. A field of
// ordinary characters is written as it stands, backslashes and all. A field holding a
// double quote or a character that could break, hide or disguise a line (every control,
// format character and line or paragraph separator: C0 and C1 controls, U+2028, U+2029,
// bidirectional controls, zero-width characters, U+FEFF, the tag characters U+E0000 to
// U+E007F as their surrogate pair, a lone surrogate) is written as one quoted JSON string
// instead: "a\b\u000Ac". A plain field never holds a double quote,
// so a quote always opens a quoted field, and inside one every backslash is an escape;
// a reader can always tell a literal backslash from an escape. A field longer than
// kMaxFieldUnits is quoted, cut, and followed by [cut: N units], N its full length.
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

// UTF-16 units of one field kept in a line; the rest is cut (see above).
constexpr std::size_t kMaxFieldUnits = 1024;
// The log file is renamed to NAME.1 (NAME.1 to NAME.2, ...) before a write would take it
// past kLogFileBytes; NAME.kLogFilesKept is the oldest kept. The folder thus holds at
// most (kLogFilesKept + 1) * kLogFileBytes of log: 40 MiB. While the file cannot be
// renamed (someone holds it open without delete sharing), lines go on into it up to
// kLogOverrunBytes more, said once in the log; past that they are dropped, said once to
// the debugger and the Event Log, until rotation works again.
constexpr std::size_t kLogFileBytes = 8u << 20;
constexpr unsigned kLogFilesKept = 4;
constexpr std::size_t kLogOverrunBytes = 8u << 20;
// Every line is in the file at most kLogFlushMs after it was logged, with no call from
// the host: the library's own writer thread makes and writes it (sooner once kLogBatchBytes
// of records wait), in pieces of whole lines of about kLogBatchBytes.
constexpr std::size_t kLogBatchBytes = 64u << 10;
constexpr unsigned kLogFlushMs = 1000;

// Each client's share of the log. A line logged while the host serves a client's call
// counts against that client's process (kCallerLogBytes) and that client's user, all its
// processes together (kUserLogBytes), per window of kLogBudgetWindowMs from its first
// line. A line over either is not written; once its window ends (or at CloseLog) one line
// says how many were held back and what the first was. The service's own lines (logged on
// no client's call: start, stop, install, the log's own notices) are never held back.
// kMaxLogCallers processes are tracked at once; past that a new one has only its user's share.
constexpr unsigned kLogBudgetWindowMs = 60000;
constexpr std::size_t kCallerLogBytes = 16u << 10;
constexpr std::size_t kUserLogBytes = 32u << 10;
constexpr std::size_t kMaxLogCallers = 1024;
// UTF-16 units of a caller's SID text kept (a SID's text is at most 184 units).
constexpr std::size_t kMaxLogCallerUserUnits = 192;

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

// What a sink receives: the message and client id exactly as the log line shows them
// (fields escaped and cut), without timestamp or ids. A sink that forwards records to
// another log gets the same one-record-one-line guarantee as the file.
struct LogRecord {
    LogLevel level;
    const WCHAR* clientId;  // never null; empty when the caller gave none
    const WCHAR* message;
};

// A process-wide observer of every record, for tests and embedding hosts.
// Called synchronously on the logging thread; one sink at a time, null removes it.
using LogSink = void (*)(void* context, const LogRecord& record);
LOGGING_API void SetLogSink(LogSink sink, void* context);

// Whom a line is for: the client whose call this thread serves, as the system identifies it.
struct LogCaller {
    uint32_t processId;
    uint32_t sessionId;
    WCHAR user[kMaxLogCallerUserUnits];  // the user's SID text; empty when impersonation gave none
};
// Fills `caller` and returns true when this thread serves a client; false for the service's
// own lines. Called for every line, on the logging thread; null (the default) makes every
// line the service's own. The module that serves clients sets it, and clears it when unloaded.
using LogCallerSource = bool (*)(LogCaller* caller);
LOGGING_API void SetLogCallerSource(LogCallerSource source);
// Names the client this thread serves, for the lines it logs until it names none (null): the
// source is then not asked. For a host that already knows whom a request is for, such as one
// whose sessions are the RPC runtime's context handles, which only the client that opened
// one can use; asking the runtime for every request costs two wineserver round trips under
// Wine. A copy is kept; the host must name none before its thread serves anyone else.
LOGGING_API void SetLogCallerOfThisThread(const LogCaller* caller);

// Where the log goes is chosen once, at OpenLog or at the first line (by the writer when
// that line's thread acts for a client): KESTRANE_LOG names a file, "-" standard error,
// "off" nothing; unset means kestrane.log in %ProgramData%\Kestrane on Windows (a folder
// only SYSTEM and Administrators control, see SecureLogFolder) and standard error natively.
// The writer acts for no client; OpenLog and OpenLogFolder open nothing on a thread that
// does. False when no destination could be opened.
LOGGING_API bool OpenLog();

// What SecureLogFolder and OpenLogFolder found.
enum class LogFolderCheck : uint32_t {
    Ready = 0,
    CannotCreate,      // the folder or file could not be created or opened
    NotFound,          // no folder given and %ProgramData% unset
    Link,              // a junction, symbolic link or other reparse point, or a hard-linked file
    WrongType,         // a file where a folder belongs, or the other way round
    ForeignOwner,      // owned by someone other than SYSTEM, Administrators or this process's user
    OthersHaveAccess,  // its DACL lets someone else read, write, delete or change it
};
LOGGING_API const char* LogFolderCheckName(LogFolderCheck check);

// Creates `folder` (null: %ProgramData%\Kestrane) with SYSTEM and Administrators as the only
// ones with access, or checks that an existing one is owned and accessible by no one else and
// is no link; never follows a link. For installers too. Natively: mode 0700, this user.
LOGGING_API LogFolderCheck SecureLogFolder(const WCHAR* folder);

// From now on logs into kestrane.log in `folder` (null: the default folder), after
// SecureLogFolder and the same checks on an existing file; on a refusal the reason is
// said once (debugger output and the Event Log) and logging goes on without a file.
LOGGING_API LogFolderCheck OpenLogFolder(const WCHAR* folder);

// Returns once the lines logged before are written (no host needs to call it). CloseLog
// first writes every held-back count (see kCallerLogBytes), then closes the file; the
// lines after it go nowhere but the sink until OpenLog or OpenLogFolder.
LOGGING_API void FlushLog();
LOGGING_API void CloseLog();

// Formats a record's message exactly as the log line shows it (fields escaped and cut), into `out`
// (capacity units, always NUL-terminated); returns the full length needed.
LOGGING_API std::size_t FormatLogMessage(const WCHAR* format, const LogArg* args, std::size_t count,
                                         WCHAR* out, std::size_t capacity);

}  // namespace Qv::Corvane::Logging
