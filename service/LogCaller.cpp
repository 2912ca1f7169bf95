#include "service/LogCaller.h"

#include "access/CallerProcessId.h"
#include "access/LogCallerOfCall.h"

#include <chrono>
#include <cstdint>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// How long a thread reuses what it learned of a client process: its session and user
// cost kernel calls (round trips to wineserver under Wine), the process id does not.
constexpr std::uint64_t kCallerReuseMs = 1000;

// Milliseconds from a fixed start, read for every line: on Windows the tick count, read
// from memory the kernel keeps current, not the performance counter's kernel call.
std::uint64_t NowMs() {
#ifdef _WIN32
    return GetTickCount64();
#else
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
#endif
}

struct Known {
    DWORD processId = 0;
    std::uint64_t learnedMs = 0;
    Logging::LogCaller caller{};
};

}  // namespace

bool LogCallerOfThisThread(Logging::LogCaller* caller) {
    DWORD processId = 0;
    if (InquireCallerProcessId(&processId) != 0) return false;
    thread_local Known known;
    const std::uint64_t now = NowMs();
    if (known.processId != processId || now - known.learnedMs > kCallerReuseMs) {
        known.processId = processId;
        known.learnedMs = now;
        DescribeLogCaller(processId, &known.caller);
    }
    *caller = known.caller;
    return true;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
