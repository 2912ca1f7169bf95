// Each client's share of the log (the bounds are in Logging.h): what a line costs its
// process and its user, and the summary lines of what was held back.
#pragma once

#include "logging/LogField.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Qv::Corvane::Logging {

// The log's clock, read once for every line: the wall clock (UTC, milliseconds since 1970),
// which gives the line its timestamp and its share's window alike. A second clock for the
// shares cost the thread that logs measurably more under Wine. An administrator may set
// the wall clock back: a window then ends (see CallerBudget::Ended), never lasts longer.
struct LogClock {
    using duration = std::chrono::milliseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<LogClock>;
    static constexpr bool is_steady = false;
    static time_point now() noexcept;
};

class CallerBudget {
public:
    using Clock = LogClock;

    // Makes the message of the line `line`; a line held back is made only when it is the
    // first of its window, whose summary quotes it.
    using Describe = void (*)(const void* line, WideString* message);

    // Whether a line of `bytes` for `caller` may be written; if not, it is counted, and its
    // message kept when it is the first held back in the window. With `bytes` 0 it only
    // asks whether the caller's share is spent, charging nothing: a line held back whatever
    // its size is then counted without being made.
    bool Admit(const LogCaller& caller, std::size_t bytes, Clock::time_point now, Describe describe, const void* line);
    // The summary lines of the windows ended by `now` (of every window with `all`), in
    // the form "client X: 12,345 lines like "..." held back in 60 s".
    std::vector<WideString> Due(Clock::time_point now, bool all);
    // When the next summary is due; max() when nothing is held back.
    Clock::time_point NextDue();

private:
    struct Share {
        Clock::time_point start;
        std::size_t used = 0;
        uint64_t held = 0;
        WideString first;  // the first line held back, as its message reads
    };
    // A window ends a minute after it started, or at once when the clock was set back before its start.
    static bool Ended(const Share& share, Clock::time_point now);
    static void Hold(Share& share, Describe describe, const void* line);
    static void Summarize(const std::string& who, Share& share, Clock::time_point now, std::vector<WideString>* out);

    std::mutex lock_;
    bool lastKnown_ = false;  // the keys of the caller of the last line, kept under lock_
    LogCaller lastCaller_{};
    std::string lastProcessKey_, lastUserKey_;
    std::unordered_map<std::string, Share> processes_;
    std::unordered_map<std::string, Share> users_;
};

// Whom the key names: "process 1234 in session 1 as S-1-5-21-..." and "user S-1-5-21-...".
std::string ProcessKey(const LogCaller& caller);
std::string UserKey(const LogCaller& caller);

}  // namespace Qv::Corvane::Logging
