// Where log records go: one line each, to the writer (LogWriter.cpp) for the log file or
// standard error, within each client's share of it (CallerBudget.cpp), to the debugger,
// and to the registered sink. Nothing here can change what a caller does: every output
// failure is swallowed. The thread that logs copies the record; the writer makes the line,
// unless a sink or a debugger needs it at once.
#include "logging/CallerBudget.h"
#include "logging/HotPath.h"
#include "logging/LogField.h"
#include "logging/LogRecord.h"
#include "logging/LogWriter.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Qv::Corvane::Logging {
namespace {

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

unsigned long ThreadId() {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned long>(syscall(SYS_gettid));
#endif
}

std::atomic<LogCallerSource>& CallerSource() {
    static std::atomic<LogCallerSource> source{nullptr};
    return source;
}

// The client a host named for this thread (SetLogCallerOfThisThread).
struct NamedCaller {
    bool named = false;
    LogCaller caller{};
};
thread_local NamedCaller namedCaller;
// Threads that name a caller now. A thread-local read reaches the C++ runtime's emulated
// thread storage under MinGW, a cost on every line of a host that never names one. A thread
// that ends while naming leaves the count up: its lines cost that read again, nothing more.
std::atomic<int> namingThreads{0};

// Whom a client's line is for: the caller its host named, else the source's answer. A
// thread sees its own naming in the count, whatever other threads do.
KESTRANE_LOG_HOT bool CallerOfLine(LogCaller* caller) {
    if (namingThreads.load(std::memory_order_relaxed) > 0) {
        const NamedCaller& named = namedCaller;
        if (named.named) {
            *caller = named.caller;
            return true;
        }
    }
    const LogCallerSource source = CallerSource().load(std::memory_order_acquire);
    return source != nullptr && source(caller);
}

// Never destroyed: at exit the writer may still be writing summaries while the
// library's statics are torn down.
CallerBudget& Budget() {
    static CallerBudget* const budget = new CallerBudget;
    return *budget;
}

void MakeHeldMessage(const void* record, WideString* message) {
    MakeMessage(*static_cast<const RecordFields*>(record), message);
}

void WriteSummaries(CallerBudget::Clock::time_point now, bool all);

// Hands a line to the writer, which makes it (LogRecord.h): this thread only copies what
// the line says. `own`: a line of the service's own, whatever thread logs it (a summary,
// a notice), never charged to a client.
KESTRANE_LOG_HOT void Take(RecordFields& record, bool own = false) {
    record.clientLength = UnitsOf(record.clientId);
    record.formatLength = UnitsOf(record.format);
    LogWriter& writer = Writer();
    LogCaller caller;
    const bool listening = writer.Listening();
    record.charged = listening && !own && CallerOfLine(&caller);
    record.caller = &caller;
    const CallerBudget::Clock::time_point now = CallerBudget::Clock::now();
    record.wallMs = now.time_since_epoch().count();
    record.threadId = static_cast<uint32_t>(ThreadId());
    // A client's line costs its share, charged by the writer once the line is made (the
    // service's own lines, and every line of a host that serves no RPC client, cost
    // nothing). A line whose caller's share is already spent is counted here and never
    // queued, so that a flood takes no room from other callers' lines.
    if (listening && (!record.charged || Budget().Admit(caller, 0, now, MakeHeldMessage, &record))) {
        writer.Add(record);
    }
#ifdef _WIN32
    // Without a debugger the line would go only to a DBWIN monitor, and asking for one
    // costs a kernel call per line (a wineserver round trip under Wine) on every request
    // that logs; the log file is the record.
    if (IsDebuggerPresent()) {
        std::string line;
        TimestampCache cache;
        AppendLine(line, record, cache);
        OutputDebugStringA(line.c_str());
    }
#endif
    if (SinkSet().load(std::memory_order_acquire)) {
        WideString client, message;
        if (record.clientLength > 0) AppendField(client, record.clientId, record.clientLength, true);
        MakeMessage(record, &message);
        std::lock_guard<std::mutex> guard(SinkLock());
        const SinkSlot slot = Sink();
        if (slot.sink) slot.sink(slot.context, LogRecord{record.level, client.c_str(), message.c_str()});
    }
}

void EmitOwn(LogLevel level, const WideString& message) {
    RecordFields record;
    record.level = level;
    record.format = message.c_str();
    record.made = true;
    Take(record, true);
}

void WriteSummaries(CallerBudget::Clock::time_point now, bool all) {
    for (const WideString& line : Budget().Due(now, all)) EmitOwn(LogLevel::Warning, line);
}

// True when a line would reach anyone: the file or standard error, the sink, or an
// attached debugger. Otherwise formatting it is work for nothing.
KESTRANE_LOG_HOT bool AnyoneListening() {
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
    static const WCHAR kAsField[] = {'%', 's', 0};
    const FieldArg field{LogArg::Kind::Wide, text, UnitsOf(text), 0};
    RecordFields record;
    record.level = level;
    record.format = kAsField + (text == nullptr ? 2 : 0);  // no text: an empty line
    record.args = &field;
    record.count = text == nullptr ? 0 : 1;
    try {
        Take(record);
    } catch (...) {
        // Out of memory while logging: the line is lost, the caller goes on.
    }
}

}  // namespace

LoggingData CreateLoggingData(const WCHAR* format, const WCHAR* clientId) {
    return LoggingData{format, clientId, 0};
}

KESTRANE_LOG_HOT void TraceLogger::Write(LogLevel level, const LoggingData& data, const LogArg* args, std::size_t count) {
    if (!AnyoneListening()) return;
    try {
        // The arguments' lengths, found once: the record copies them, the line reads them.
        constexpr std::size_t kOnStack = 8;
        FieldArg onStack[kOnStack];
        std::vector<FieldArg> more;
        FieldArg* fields = onStack;
        if (count > kOnStack) {
            more.resize(count);
            fields = more.data();
        }
        for (std::size_t i = 0; i < count; ++i) fields[i] = FieldOf(args[i]);
        RecordFields record;
        record.level = level;
        record.clientId = data.clientId;
        record.format = data.format;
        record.args = fields;
        record.count = count;
        Take(record);
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

void MakeLines(const RecordBuffer& records, std::string* lines) {
    TimestampCache cache;
    RecordView view;
    try {
        for (std::size_t at = 0; at < records.size();) {
            at = ReadRecord(records, at, &view);
            const std::size_t start = lines->size();
            AppendLine(*lines, view.fields, cache);
            const CallerBudget::Clock::time_point logged{CallerBudget::Clock::duration(view.fields.wallMs)};
            if (view.fields.charged &&
                !Budget().Admit(view.caller, lines->size() - start, logged, MakeHeldMessage, &view.fields)) {
                lines->resize(start);
            }
        }
    } catch (...) {
        // Out of memory while making lines: the lines made so far are written, the rest lost.
    }
}

bool SweepHeldBack() {
    WriteSummaries(CallerBudget::Clock::now(), false);
    return Budget().NextDue() != CallerBudget::Clock::time_point::max();
}

void SetLogCallerSource(LogCallerSource source) { CallerSource().store(source, std::memory_order_release); }

void SetLogCallerOfThisThread(const LogCaller* caller) {
    NamedCaller& named = namedCaller;
    if (caller != nullptr) named.caller = *caller;
    if (named.named != (caller != nullptr)) namingThreads.fetch_add(caller != nullptr ? 1 : -1, std::memory_order_relaxed);
    named.named = caller != nullptr;
}

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
    // The writer charges the lines it makes: the counts are whole once the queue is written.
    Writer().Flush();
    if (Writer().Listening()) WriteSummaries(CallerBudget::Clock::now(), true);
    Writer().Close();
}

}  // namespace Qv::Corvane::Logging
