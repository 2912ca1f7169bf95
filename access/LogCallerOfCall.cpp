#include "access/LogCallerOfCall.h"

#include "access/ScopedHandles.h"

#include <cstring>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

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

}  // namespace

void DescribeLogCaller(DWORD processId, Logging::LogCaller* caller) {
    caller->processId = processId;
    DWORD session = 0;
    // A process gone already has no session to tell: its lines share "session 0xFFFFFFFF".
    caller->sessionId = ProcessIdToSessionId(processId, &session) ? session : 0xFFFFFFFFu;
    CallerUser(caller->user, Logging::kMaxLogCallerUserUnits);
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
