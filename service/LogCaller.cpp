#include "service/LogCaller.h"

#include "access/CallerProcessId.h"
#include "access/ScopedHandles.h"

#include <chrono>
#include <cstdint>
#include <cstring>

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

// The user of the token this thread acts with, as SID text; false when there is none.
bool ThreadUser(WCHAR* out, std::size_t capacity) {
    ScopedHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put())) return false;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    ScopedMalloc user(PlatformMalloc(size));
    if (user.Get() == nullptr || !GetTokenInformation(token.Get(), TokenUser, user.Get(), size, &size)) return false;
    ScopedLocalText text;
    if (!ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user.Get())->User.Sid, text.Put())) return false;
    std::size_t length = 0;
    while (text.Get()[length] != 0 && length + 1 < capacity) ++length;
    std::memcpy(out, text.Get(), length * sizeof(WCHAR));
    out[length] = 0;
    return true;
}

// The user the RPC runtime holds for the client: the thread's own impersonation if it
// already acts for the client, else one made and undone here.
void CallerUser(WCHAR* out, std::size_t capacity) {
    out[0] = 0;
    if (ThreadUser(out, capacity)) return;
    const ScopedImpersonation impersonation;
    if (impersonation.Status() == RPC_S_OK && !ThreadUser(out, capacity)) out[0] = 0;
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
        known.caller.processId = processId;
        DWORD session = 0;
        // A process gone already has no session to tell: its lines share "session 0xFFFFFFFF".
        known.caller.sessionId = ProcessIdToSessionId(processId, &session) ? session : 0xFFFFFFFFu;
        CallerUser(known.caller.user, Logging::kMaxLogCallerUserUnits);
    }
    *caller = known.caller;
    return true;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
