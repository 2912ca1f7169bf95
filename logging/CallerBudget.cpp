#include "logging/CallerBudget.h"
#include "logging/HotPath.h"

namespace Qv::Corvane::Logging {
namespace {

// UTF-16 units of the first held-back line a summary quotes.
constexpr std::size_t kHeldExampleUnits = 120;

std::string UserText(const LogCaller& caller) {
    std::string text;
    for (std::size_t i = 0; i < kMaxLogCallerUserUnits && caller.user[i] != 0; ++i) {
        // A SID's text is ASCII; anything else is not one and is not trusted into a line.
        const auto c = static_cast<uint16_t>(caller.user[i]);
        text += c > 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

std::string Grouped(uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

void AppendString(WideString& out, const std::string& text) {
    for (char c : text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
}

std::chrono::milliseconds Window() { return std::chrono::milliseconds(kLogBudgetWindowMs); }

bool SameCaller(const LogCaller& a, const LogCaller& b) {
    if (a.processId != b.processId || a.sessionId != b.sessionId) return false;
    for (std::size_t i = 0; i < kMaxLogCallerUserUnits; ++i) {
        if (a.user[i] != b.user[i]) return false;
        if (a.user[i] == 0) return true;
    }
    return true;
}

}  // namespace

KESTRANE_LOG_HOT LogClock::time_point LogClock::now() noexcept {
#ifdef _WIN32
    // The system's own precise time, called directly: the C++ clock reaches it through two
    // more layers on every line.
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;  // 1970-01-01 in 100 ns steps from 1601
    return time_point(duration(static_cast<rep>((ticks - kUnixEpochTicks) / 10000)));
#else
    return time_point(std::chrono::duration_cast<duration>(std::chrono::system_clock::now().time_since_epoch()));
#endif
}

bool CallerBudget::Ended(const Share& share, Clock::time_point now) {
    return now < share.start || now - share.start >= Window();
}

std::string ProcessKey(const LogCaller& caller) {
    std::string key = "process " + std::to_string(caller.processId) + " in session " + std::to_string(caller.sessionId);
    const std::string user = UserText(caller);
    return user.empty() ? key : key + " as " + user;
}

std::string UserKey(const LogCaller& caller) {
    const std::string user = UserText(caller);
    return user.empty() ? "unknown user in session " + std::to_string(caller.sessionId) : "user " + user;
}

void CallerBudget::Hold(Share& share, Describe describe, const void* line) {
    if (share.held++ > 0) return;
    share.first.clear();
    describe(line, &share.first);
}

bool CallerBudget::Admit(const LogCaller& caller, std::size_t bytes, Clock::time_point now, Describe describe,
                         const void* line) {
    std::lock_guard<std::mutex> guard(lock_);
    // One client usually logs many lines in a row: the keys are made again only when the
    // caller changes, not for every line (each costs several allocations).
    if (!lastKnown_ || !SameCaller(lastCaller_, caller)) {
        lastKnown_ = false;  // until both keys are made (an allocation may throw)
        lastProcessKey_ = ProcessKey(caller);
        lastUserKey_ = UserKey(caller);
        lastCaller_ = caller;
        lastKnown_ = true;
    }
    const std::string& processKey = lastProcessKey_;
    const std::string& userKey = lastUserKey_;
    // A window that ended while its caller kept quiet starts afresh (its summary, if any,
    // is written by Due before this line could be).
    auto user = users_.find(userKey);
    if (user != users_.end() && Ended(user->second, now) && user->second.held == 0) {
        users_.erase(user);
        user = users_.end();
    }
    if (user == users_.end()) user = users_.emplace(userKey, Share{now, 0, 0, {}}).first;
    auto process = processes_.find(processKey);
    if (process != processes_.end() && Ended(process->second, now) && process->second.held == 0) {
        processes_.erase(process);
        process = processes_.end();
    }
    if (process == processes_.end() && processes_.size() < kMaxLogCallers) {
        process = processes_.emplace(processKey, Share{now, 0, 0, {}}).first;
    }
    // The user's share first. A line held back is counted for its process only when that
    // process has spent at least half its share, else for its user: each process summary
    // then stands for kCallerLogBytes / 2 of the user's share, so however many processes a
    // user runs, a window has at most 2 * kUserLogBytes / kCallerLogBytes of them, plus one
    // for the user.
    const std::size_t cost = bytes == 0 ? 1 : bytes;
    const bool overUser = user->second.used + cost > kUserLogBytes;
    if (overUser || (process != processes_.end() && process->second.used + cost > kCallerLogBytes)) {
        const bool forProcess = !overUser && process->second.used >= kCallerLogBytes / 2;
        Hold(forProcess ? process->second : user->second, describe, line);
        return false;
    }
    if (bytes == 0) return true;
    if (process != processes_.end()) process->second.used += bytes;
    user->second.used += bytes;
    return true;
}

void CallerBudget::Summarize(const std::string& who, Share& share, Clock::time_point now,
                             std::vector<WideString>* out) {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(now - share.start).count();
    WideString line;
    AppendString(line, "client " + who + ": " + Grouped(share.held) + " lines like ");
    // Cut between whole characters; the quoted form keeps the text one field.
    std::size_t kept = share.first.size() < kHeldExampleUnits ? share.first.size() : kHeldExampleUnits;
    if (kept > 0 && kept < share.first.size()) {
        const auto last = static_cast<uint16_t>(share.first[kept - 1]);
        if (last >= 0xD800 && last <= 0xDBFF) --kept;
    }
    AppendField(line, share.first.data(), kept, false, true);
    if (kept < share.first.size()) AppendString(line, "...");
    AppendString(line, " held back in " + std::to_string(seconds < 1 ? 1 : seconds) + " s");
    out->push_back(std::move(line));
    share.held = 0;
    share.first.clear();
}

std::vector<WideString> CallerBudget::Due(Clock::time_point now, bool all) {
    std::vector<WideString> lines;
    std::lock_guard<std::mutex> guard(lock_);
    for (auto* table : {&users_, &processes_}) {
        for (auto it = table->begin(); it != table->end();) {
            const bool ended = Ended(it->second, now);
            if ((ended || all) && it->second.held > 0) Summarize(it->first, it->second, now, &lines);
            // An ended window is forgotten; the caller's next line opens a new one.
            it = ended ? table->erase(it) : std::next(it);
        }
    }
    return lines;
}

CallerBudget::Clock::time_point CallerBudget::NextDue() {
    std::lock_guard<std::mutex> guard(lock_);
    Clock::time_point next = Clock::time_point::max();
    for (auto* table : {&users_, &processes_}) {
        for (const auto& entry : *table) {
            if (entry.second.held > 0 && entry.second.start + Window() < next) next = entry.second.start + Window();
        }
    }
    return next;
}

}  // namespace Qv::Corvane::Logging
