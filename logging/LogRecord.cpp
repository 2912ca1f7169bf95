#include "logging/LogRecord.h"
#include "logging/HotPath.h"

#include <cstdio>
#include <cstring>
#include <new>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace Qv::Corvane::Logging {
namespace {

// The layout: a head, the caller when the line is charged (its ids and SID units), then
// the client id, the format and each argument, every text cut to the units a line keeps
// and padded to whole units, so that each wide text starts on an even byte.
struct RecordHead {
    uint32_t bytes;
    uint8_t level;
    uint8_t flags;
    uint16_t count;
    uint32_t threadId;
    uint32_t clientLength;
    uint32_t formatLength;
    uint16_t userUnits;
    uint16_t unused;
    int64_t wallMs;
};
constexpr uint8_t kCharged = 1, kMade = 2, kHasFormat = 4;

struct CallerHead {
    uint32_t processId;
    uint32_t sessionId;
};

struct ArgHead {
    uint8_t kind;
    uint8_t null;
    uint16_t unused;
    uint32_t value;  // a text's full length, or the number
};

std::size_t Padded(std::size_t bytes) { return (bytes + 1) & ~static_cast<std::size_t>(1); }
std::size_t Kept(std::size_t length) { return length < kMaxFieldUnits ? length : kMaxFieldUnits; }
uint32_t Length32(std::size_t length) { return length < 0xFFFFFFFFu ? static_cast<uint32_t>(length) : 0xFFFFFFFFu; }

std::size_t UserUnits(const LogCaller& caller) {
    std::size_t units = 0;
    while (units < kMaxLogCallerUserUnits && caller.user[units] != 0) ++units;
    return units;
}

std::size_t ArgTextBytes(const FieldArg& arg) {
    if (arg.kind == LogArg::Kind::Integer || arg.text == nullptr) return 0;
    return Kept(arg.length) * (arg.kind == LogArg::Kind::Wide ? sizeof(WCHAR) : 1);
}

char* Put(char* to, const void* from, std::size_t bytes) {
    if (bytes > 0) std::memcpy(to, from, bytes);
    return to + Padded(bytes);
}

std::size_t ArgCount(const RecordFields& record) { return record.count < 0xFFFF ? record.count : 0xFFFF; }

const char* LevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Info: return "INFO";
    case LogLevel::Warning: return "WARN";
    case LogLevel::Error: return "ERROR";
    }
    return "?";
}

// UTC "YYYY-MM-DDThh:mm:ss.mmmZ", computed without the C runtime's non-reentrant gmtime.
void AppendTimestamp(std::string& out, int64_t nowMs, TimestampCache& cache) {
    const long long secs = nowMs / 1000;
    if (secs != cache.second) {
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
        std::snprintf(cache.text, sizeof cache.text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.", year % 10000, month,
                      day, sod / 3600, sod / 60 % 60, sod % 60);
        cache.second = secs;
    }
    const int ms = static_cast<int>(nowMs % 1000);
    out += cache.text;
    out += static_cast<char>('0' + ms / 100);
    out += static_cast<char>('0' + ms / 10 % 10);
    out += static_cast<char>('0' + ms % 10);
    out += 'Z';
}

// The message, in UTF-16 for a sink or straight into a line's UTF-8.
template <class Out>
void AppendMessage(Out& out, const RecordFields& record) {
    if (record.made) {
        out.Units(record.format, record.formatLength);
    } else {
        FormatMessageText(out, record.format, record.args, record.count);
    }
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

KESTRANE_LOG_HOT std::size_t RecordBytes(const RecordFields& record) {
    std::size_t bytes = sizeof(RecordHead);
    if (record.charged) bytes += sizeof(CallerHead) + UserUnits(*record.caller) * sizeof(WCHAR);
    bytes += Kept(record.clientLength) * sizeof(WCHAR);
    if (record.format != nullptr) bytes += (record.formatLength + 1) * sizeof(WCHAR);  // read up to its terminator
    for (std::size_t i = 0; i < ArgCount(record); ++i) bytes += sizeof(ArgHead) + Padded(ArgTextBytes(record.args[i]));
    return bytes;
}

KESTRANE_LOG_HOT void PutRecord(const RecordFields& record, std::size_t bytes, char* to) {
    RecordHead head{};
    head.bytes = static_cast<uint32_t>(bytes);
    head.level = static_cast<uint8_t>(record.level);
    head.flags = static_cast<uint8_t>((record.charged ? kCharged : 0) | (record.made ? kMade : 0) |
                                      (record.format != nullptr ? kHasFormat : 0));
    head.count = static_cast<uint16_t>(ArgCount(record));
    head.threadId = record.threadId;
    head.clientLength = Length32(record.clientLength);
    head.formatLength = Length32(record.formatLength);
    head.userUnits = record.charged ? static_cast<uint16_t>(UserUnits(*record.caller)) : 0;
    head.wallMs = record.wallMs;
    to = Put(to, &head, sizeof head);
    if (record.charged) {
        const CallerHead caller{record.caller->processId, record.caller->sessionId};
        to = Put(to, &caller, sizeof caller);
        to = Put(to, record.caller->user, head.userUnits * sizeof(WCHAR));
    }
    to = Put(to, record.clientId, Kept(record.clientLength) * sizeof(WCHAR));
    if (record.format != nullptr) to = Put(to, record.format, (record.formatLength + 1) * sizeof(WCHAR));
    for (std::size_t i = 0; i < head.count; ++i) {
        const FieldArg& arg = record.args[i];
        const bool text = arg.kind != LogArg::Kind::Integer;
        const ArgHead argHead{static_cast<uint8_t>(arg.kind), static_cast<uint8_t>(text && arg.text == nullptr), 0,
                              text ? Length32(arg.length) : static_cast<uint32_t>(arg.integer)};
        to = Put(to, &argHead, sizeof argHead);
        to = Put(to, arg.text, ArgTextBytes(arg));
    }
}

bool RecordBuffer::MoveTo(std::size_t capacity) {
    std::unique_ptr<char[]> larger(new (std::nothrow) char[capacity]);
    if (!larger) return false;
    if (size_ > 0) std::memcpy(larger.get(), data_.get(), size_);
    data_.swap(larger);
    capacity_ = capacity;
    return true;
}

KESTRANE_LOG_HOT char* RecordBuffer::Append(std::size_t bytes) {
    if (bytes > capacity_ - size_) {
        std::size_t grown = capacity_ < 4096 ? 4096 : 2 * capacity_;
        if (grown < size_ + bytes) grown = size_ + bytes;
        if (!MoveTo(grown)) return nullptr;
    }
    char* room = data_.get() + size_;
    size_ += bytes;
    return room;
}

bool RecordBuffer::Warm(std::size_t bytes) {
    if (bytes <= capacity_) return true;
    if (!MoveTo(bytes)) return false;
    std::memset(data_.get() + size_, 0, bytes - size_);
    return true;
}

std::size_t ReadRecord(const RecordBuffer& batch, std::size_t at, RecordView* out) {
    const char* from = batch.data() + at;
    RecordHead head;
    std::memcpy(&head, from, sizeof head);
    from += sizeof head;
    RecordFields& fields = out->fields;
    fields.level = static_cast<LogLevel>(head.level);
    fields.charged = (head.flags & kCharged) != 0;
    fields.made = (head.flags & kMade) != 0;
    fields.threadId = head.threadId;
    fields.wallMs = head.wallMs;
    fields.caller = nullptr;
    if (fields.charged) {
        CallerHead caller;
        std::memcpy(&caller, from, sizeof caller);
        from += sizeof caller;
        out->caller = LogCaller{caller.processId, caller.sessionId, {}};
        std::memcpy(out->caller.user, from, head.userUnits * sizeof(WCHAR));
        from += head.userUnits * sizeof(WCHAR);
        fields.caller = &out->caller;
    }
    fields.clientId = reinterpret_cast<const WCHAR*>(from);
    fields.clientLength = head.clientLength;
    from += Kept(head.clientLength) * sizeof(WCHAR);
    fields.format = (head.flags & kHasFormat) != 0 ? reinterpret_cast<const WCHAR*>(from) : nullptr;
    fields.formatLength = head.formatLength;
    from += fields.format != nullptr ? (head.formatLength + 1) * sizeof(WCHAR) : 0;
    out->args.resize(head.count);
    for (FieldArg& arg : out->args) {
        ArgHead argHead;
        std::memcpy(&argHead, from, sizeof argHead);
        from += sizeof argHead;
        const auto kind = static_cast<LogArg::Kind>(argHead.kind);
        arg = kind == LogArg::Kind::Integer ? FieldArg{kind, nullptr, 0, static_cast<int32_t>(argHead.value)}
                                            : FieldArg{kind, argHead.null ? nullptr : from, argHead.value, 0};
        from += Padded(ArgTextBytes(arg));
    }
    fields.args = out->args.data();
    fields.count = out->args.size();
    return at + head.bytes;
}

void MakeMessage(const RecordFields& record, WideString* message) {
    WideOut out(*message);
    AppendMessage(out, record);
}

void AppendLine(std::string& out, const RecordFields& record, TimestampCache& cache) {
    static const std::string processId = std::to_string(ProcessId());
    // The thread id's digits by hand: the C runtime's printf costs more than the rest of
    // the line's fixed part under Wine.
    char threadId[12];
    char* digits = threadId + sizeof threadId;
    *--digits = 0;
    uint32_t id = record.threadId;
    do {
        *--digits = static_cast<char>('0' + id % 10);
        id /= 10;
    } while (id != 0);
    AppendTimestamp(out, record.wallMs, cache);
    out += ' ';
    out += LevelName(record.level);
    out += ' ';
    out += processId;
    out += ' ';
    out += digits;
    out += " [";
    {
        // Escaped and encoded in one pass, straight into the line.
        Utf8Out line(out);
        if (record.clientLength > 0) AppendField(line, record.clientId, record.clientLength, true);
        line.Ascii("] ", 2);
        AppendMessage(line, record);
    }
    out += '\n';
}

}  // namespace Qv::Corvane::Logging
