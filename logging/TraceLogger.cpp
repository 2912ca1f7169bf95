// Where log records go: one line each, to the writer (LogWriter.cpp) for the log file or
// standard error, within each client's share of it (CallerBudget.cpp), to the debugger,
// and to the registered sink. Nothing here can change what a caller does: every output
// failure is swallowed. A line is formatted with no lock held.
#include "logging/CallerBudget.h"
#include "logging/LogField.h"
#include "logging/LogWriter.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Qv::Corvane::Logging {
namespace {

using WideString = std::basic_string<WCHAR>;

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

struct SinkSlot {
    LogSink sink = nullptr;
    void* context = nullptr;
};
SinkSlot& Sink() {
    static SinkSlot slot;
    return slot;
}
// Read without the lock by the check below; the slot itself is read under it.
std::atomic<bool>& SinkSet() {
    static std::atomic<bool> set{false};
    return set;
}

void AppendUtf8(std::string& out, const WideString& text) {
    // Written through a pointer into room for the longest encoding (three bytes a unit),
    // then cut to what was written: one allocation at most, not a check per byte.
    const std::size_t start = out.size();
    out.resize(start + text.size() * 3);
    char* p = &out[start];
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate cannot be written as UTF-8
        if (c < 0x800) {
            *p++ = static_cast<char>(0xC0 | (c >> 6));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *p++ = static_cast<char>(0xE0 | (c >> 12));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {  // two units in, four bytes out: within the room of the pair
            *p++ = static_cast<char>(0xF0 | (c >> 18));
            *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

unsigned long ThreadId() {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned long>(syscall(SYS_gettid));
#endif
}

// What a thread keeps between its lines, in one thread-local object: each thread-local
// costs a lookup of its own with MinGW's runtime (tens of nanoseconds under Wine).
// Nothing in it needs destroying: a thread that ends after this library was unloaded must
// find no destructor of ours to run.
struct ThreadLines {
    char threadId[24] = {};
    long long cachedSecond = -1;
    char cached[96];
};

// UTC "YYYY-MM-DDThh:mm:ss.mmmZ", computed without the C runtime's non-reentrant gmtime.
// The text up to the second is kept per thread and made again only when the second changes.
void AppendTimestamp(std::string& out, ThreadLines& thread) {
    using namespace std::chrono;
    const long long now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const long long secs = now / 1000;
    long long& cachedSecond = thread.cachedSecond;
    char (&cached)[96] = thread.cached;
    if (secs != cachedSecond) {
        const long long sod = secs % 86400;
        const long long z = secs / 86400 + 719468;  // days since 0000-03-01
        const long long era = z / 146097;
        const long long doe = z - era * 146097;
        const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const long long mp = (5 * doy + 2) / 153;
        const long long day = doy - (153 * mp + 2) / 5 + 1;
        const long long month = mp < 10 ? mp + 3 : mp - 9;
        const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
        std::snprintf(cached, sizeof cached, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.", year % 10000, month, day,
                      sod / 3600, sod / 60 % 60, sod % 60);
        cachedSecond = secs;
    }
    const int ms = static_cast<int>(now % 1000);
    out += cached;
    out += static_cast<char>('0' + ms / 100);
    out += static_cast<char>('0' + ms / 10 % 10);
    out += static_cast<char>('0' + ms % 10);
    out += 'Z';
}

const char* LevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Info: return "INFO";
    case LogLevel::Warning: return "WARN";
    case LogLevel::Error: return "ERROR";
    }
    return "?";
}

std::atomic<LogCallerSource>& CallerSource() {
    static std::atomic<LogCallerSource> source{nullptr};
    return source;
}

// Never destroyed: at exit the writer may still be writing summaries while the
// library's statics are torn down.
CallerBudget& Budget() {
    static CallerBudget* const budget = new CallerBudget;
    return *budget;
}

void EmitOwn(LogLevel level, const WideString& message);

void WriteSummaries(CallerBudget::Clock::time_point now, bool all) {
    for (const WideString& line : Budget().Due(now, all)) EmitOwn(LogLevel::Warning, line);
}

// `own`: a line of the service's own, whatever thread logs it (a summary, a notice).
void Emit(LogLevel level, const WCHAR* clientId, const WideString& message, bool own = false) {
    WideString client;
    if (clientId != nullptr) {
        std::size_t length = 0;
        while (clientId[length] != 0) ++length;
        AppendField(client, clientId, length, true);
    }
    // A client's line costs its share; the service's own lines (and every line of a host
    // that serves no RPC client) go straight on, at no cost beyond the question. A line
    // held back whatever its size (its caller's share is spent) is counted, never made.
    LogWriter& writer = Writer();
    LogCaller caller;
    const LogCallerSource source = own ? nullptr : CallerSource().load(std::memory_order_acquire);
    const bool listening = writer.Listening();
    const bool charged = listening && source != nullptr && source(&caller);
    const auto now = CallerBudget::Clock::now();
    const bool toFile = listening && (!charged || Budget().Admit(caller, 0, message, now));
#ifdef _WIN32
    // Without a debugger the line would go only to a DBWIN monitor, and asking for one
    // costs a kernel call per line (a wineserver round trip under Wine) on every request
    // that logs; the log file is the record.
    const bool debugger = IsDebuggerPresent() != FALSE;
#else
    const bool debugger = false;
#endif
    if (toFile || debugger) {
        static const std::string processId = std::to_string(ProcessId());
        thread_local ThreadLines thread;
        std::string line;
        line.reserve(96 + 3 * (client.size() + message.size()));  // room for AppendUtf8's worst case
        AppendTimestamp(line, thread);
        line += ' ';
        line += LevelName(level);
        line += ' ';
        line += processId;
        line += ' ';
        if (thread.threadId[0] == 0) std::snprintf(thread.threadId, sizeof thread.threadId, "%lu", ThreadId());
        line += thread.threadId;
        line += " [";
        AppendUtf8(line, client);
        line += "] ";
        AppendUtf8(line, message);
        line += '\n';
        if (toFile && (!charged || Budget().Admit(caller, line.size(), message, now))) writer.Add(line);
#ifdef _WIN32
        if (debugger) OutputDebugStringA(line.c_str());
#endif
    }
    if (SinkSet().load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(SinkLock());
        const SinkSlot slot = Sink();
        if (slot.sink) slot.sink(slot.context, LogRecord{level, client.c_str(), message.c_str()});
    }
}

void EmitOwn(LogLevel level, const WideString& message) { Emit(level, nullptr, message, true); }

// True when a line would reach anyone: the file or standard error, the sink, or an
// attached debugger. Otherwise formatting it is work for nothing.
bool AnyoneListening() {
    if (Writer().Listening() || SinkSet().load(std::memory_order_acquire)) return true;
#ifdef _WIN32
    return IsDebuggerPresent() != FALSE;
#else
    return false;
#endif
}

// The plain form: one text and nothing to format, escaped and cut like any field.
void LogPlain(LogLevel level, const WCHAR* text) {
    if (!AnyoneListening()) return;
    try {
        WideString message;
        if (text != nullptr) {
            std::size_t length = 0;
            while (text[length] != 0) ++length;
            AppendField(message, text, length);
        }
        Emit(level, nullptr, message);
    } catch (...) {
        // Out of memory while logging: the line is lost, the caller goes on.
    }
}

}  // namespace

LoggingData CreateLoggingData(const WCHAR* format, const WCHAR* clientId) {
    return LoggingData{format, clientId, 0};
}

void TraceLogger::Write(LogLevel level, const LoggingData& data, const LogArg* args, std::size_t count) {
    if (!AnyoneListening()) return;
    try {
        WideString message;
        message.reserve(256);
        FormatMessageText(message, data.format, args, count);
        Emit(level, data.clientId, message);
    } catch (...) {
        // Out of memory while logging: the line is lost, the caller goes on.
    }
}

void TraceLogger::LogInfo(const WCHAR* text) { LogPlain(LogLevel::Info, text); }

void TraceLogger::LogError(const WCHAR* text) { LogPlain(LogLevel::Error, text); }

TraceLogger* LogManager::GetLogger() {
    static TraceLogger logger;
    return &logger;
}

void SayNotice(LogFile::Notice notice, const LogPath& file) {
    const char* text = nullptr;
    switch (notice) {
    case LogFile::Notice::RotationBlocked:
        text = "Logging: the log file cannot be renamed (held open without delete sharing, or its folder is no "
               "longer in place); lines go on into it up to the overrun bound, and it is rotated once it can be";
        break;
    case LogFile::Notice::Dropping:
        // Not a line in the file, which takes no more: the debugger and the Event Log hear it.
        SayWhyNoFile(file, LogFolderCheck::CannotCreate);
        return;
    case LogFile::Notice::RotationResumed:
        text = "Logging: the log file is rotated again";
        break;
    case LogFile::Notice::None:
        return;
    }
    WideString message;
    for (const char* p = text; *p; ++p) message.push_back(static_cast<WCHAR>(*p));
    EmitOwn(LogLevel::Warning, message);
}

bool SweepHeldBack() {
    WriteSummaries(CallerBudget::Clock::now(), false);
    return Budget().NextDue() != CallerBudget::Clock::time_point::max();
}

void SetLogCallerSource(LogCallerSource source) { CallerSource().store(source, std::memory_order_release); }

void SetLogSink(LogSink sink, void* context) {
    std::lock_guard<std::mutex> guard(SinkLock());
    Sink() = SinkSlot{sink, context};
    SinkSet().store(sink != nullptr, std::memory_order_release);
}

bool OpenLog() { return Writer().Choose(); }

LogFolderCheck OpenLogFolder(const WCHAR* folder) {
    return Writer().OpenFolder(folder != nullptr ? ToLogPath(folder) : DefaultLogFolder());
}

LogFolderCheck SecureLogFolder(const WCHAR* folder) {
    LogHandle held = kNoLogHandle;
    const LogFolderCheck check = SecureFolder(folder != nullptr ? ToLogPath(folder) : DefaultLogFolder(), &held);
    if (held != kNoLogHandle) CloseHandleOf(held);
    return check;
}

const char* LogFolderCheckName(LogFolderCheck check) {
    switch (check) {
    case LogFolderCheck::Ready: return "ready";
    case LogFolderCheck::CannotCreate: return "cannot be created or opened";
    case LogFolderCheck::NotFound: return "no folder: %ProgramData% is not set";
    case LogFolderCheck::Link: return "a link (junction, symbolic or hard link) is in the way";
    case LogFolderCheck::WrongType: return "a file where a folder belongs, or a folder where a file belongs";
    case LogFolderCheck::ForeignOwner: return "owned by someone else";
    case LogFolderCheck::OthersHaveAccess: return "its permissions let someone else in";
    }
    return "?";
}

void FlushLog() { Writer().Flush(); }

void CloseLog() {
    if (Writer().Listening()) WriteSummaries(CallerBudget::Clock::now(), true);
    Writer().Close();
}

}  // namespace Qv::Corvane::Logging
