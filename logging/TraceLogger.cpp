// Where log records go: one line each to the log file (or standard error) and to the
// debugger, and to the registered sink. Nothing here can change what a caller does:
// every output failure is swallowed.
#include "logging/Logging.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <shlobj.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Qv::Corvane::Logging {
namespace {

using WideString = std::basic_string<WCHAR>;

std::mutex& OutputLock() {
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
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate cannot be written as UTF-8
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

// UTC "YYYY-MM-DDThh:mm:ss.mmmZ", computed without the C runtime's non-reentrant gmtime.
std::string Timestamp() {
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const long long ms = now % 1000;
    long long secs = now / 1000;
    const long long sod = secs % 86400;
    long long z = secs / 86400 + 719468;  // days since 0000-03-01
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                  sod / 3600, sod / 60 % 60, sod % 60, ms);
    return text;
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

const char* LevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Info: return "INFO";
    case LogLevel::Warning: return "WARN";
    case LogLevel::Error: return "ERROR";
    }
    return "?";
}

// The destination is chosen once: KESTRANE_LOG names a file, "-" standard error,
// "off" nothing; unset means %ProgramData%\Kestrane\kestrane.log on Windows and
// standard error natively.
std::FILE* OpenDestination() {
    const char* chosen = std::getenv("KESTRANE_LOG");
    std::string path = chosen ? chosen : "";
    if (path == "off") return nullptr;
    if (path == "-") return stderr;
    if (path.empty()) {
#ifdef _WIN32
        const char* data = std::getenv("ProgramData");
        if (!data) return nullptr;
        std::string folder = std::string(data) + "\\Kestrane";
        CreateDirectoryA(folder.c_str(), nullptr);
        path = folder + "\\kestrane.log";
#else
        return stderr;
#endif
    }
    return std::fopen(path.c_str(), "a");
}

std::FILE* Destination() {
    static std::FILE* file = OpenDestination();
    return file;
}

void Emit(LogLevel level, const WCHAR* clientId, const WideString& message) {
    static const WCHAR empty[] = {0};
    const WCHAR* client = clientId ? clientId : empty;
    std::string line = Timestamp();
    line += ' ';
    line += LevelName(level);
    line += ' ';
    line += std::to_string(ProcessId());
    line += ' ';
    line += std::to_string(ThreadId());
    line += " [";
    AppendUtf8(line, WideString(client));
    line += "] ";
    AppendUtf8(line, message);
    line += '\n';

    std::lock_guard<std::mutex> guard(OutputLock());
    if (std::FILE* out = Destination()) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fflush(out);
    }
#ifdef _WIN32
    // Without a debugger the line would go only to a DBWIN monitor, and asking for one
    // costs a kernel call per line (a wineserver round trip under Wine) on every request
    // that logs; the log file is the record.
    if (IsDebuggerPresent()) OutputDebugStringA(line.c_str());
#endif
    const SinkSlot slot = Sink();
    if (slot.sink) slot.sink(slot.context, LogRecord{level, client, message.c_str()});
}

// True when a line would reach anyone: the file or standard error, the sink, or an
// attached debugger. Otherwise formatting it is work for nothing.
bool AnyoneListening() {
    if (Destination() != nullptr || SinkSet().load(std::memory_order_acquire)) return true;
#ifdef _WIN32
    return IsDebuggerPresent() != FALSE;
#else
    return false;
#endif
}

}  // namespace

LoggingData CreateLoggingData(const WCHAR* format, const WCHAR* clientId) {
    return LoggingData{format, clientId, 0};
}

void TraceLogger::Write(LogLevel level, const LoggingData& data, const LogArg* args, std::size_t count) {
    if (!AnyoneListening()) return;
    try {
        WideString message(FormatLogMessage(data.format, args, count, nullptr, 0), 0);
        FormatLogMessage(data.format, args, count, message.data(), message.size() + 1);
        Emit(level, data.clientId, message);
    } catch (...) {
        // Out of memory while logging: the line is lost, the caller goes on.
    }
}

void TraceLogger::LogInfo(const WCHAR* text) {
    if (!AnyoneListening()) return;
    try {
        Emit(LogLevel::Info, nullptr, text ? WideString(text) : WideString());
    } catch (...) {
    }
}

void TraceLogger::LogError(const WCHAR* text) {
    if (!AnyoneListening()) return;
    try {
        Emit(LogLevel::Error, nullptr, text ? WideString(text) : WideString());
    } catch (...) {
    }
}

TraceLogger* LogManager::GetLogger() {
    static TraceLogger logger;
    return &logger;
}

void SetLogSink(LogSink sink, void* context) {
    std::lock_guard<std::mutex> guard(OutputLock());
    Sink() = SinkSlot{sink, context};
    SinkSet().store(sink != nullptr, std::memory_order_release);
}

}  // namespace Qv::Corvane::Logging
