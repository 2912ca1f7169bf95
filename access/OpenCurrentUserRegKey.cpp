#include "access/CallerProcessId.h"
#include "access/KestraneServiceHelper.h"
#include "access/ScopedHandles.h"
#include "logging/Logging.h"
#include "service/TypeName.h"

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// Every failure is one line: which step failed and the number it gave.
void Report(Logging::LogLevel level, const WCHAR* clientId, const WCHAR* step, long number) {
    const Logging::LoggingData data{WIDE("%S.%S failed on function %s with result %d"), clientId, 0};
    Logging::TraceLogger* logger = Logging::LogManager::GetLogger();
    const char* className = TypeName<KestraneServiceHelper>();
    if (level == Logging::LogLevel::Error)
        logger->LogError(data, className, "OpenCurrentUserRegKey", step, number);
    else
        logger->LogWarning(data, className, "OpenCurrentUserRegKey", step, number);
}

void Warn(const WCHAR* clientId, const WCHAR* step, long number) {
    Report(Logging::LogLevel::Warning, clientId, step, number);
}

// A token's user, in a block of its own; null (with the failure logged) when unreadable.
ScopedMalloc ReadTokenUser(HANDLE token, const WCHAR* clientId) {
    // The sizing call is meant to fail: with no buffer, the one good answer is
    // "insufficient buffer" and the size the user needs.
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Warn(clientId, WIDE("GetTokenInformation"), GetLastError());
        return ScopedMalloc(nullptr);
    }
    ScopedMalloc user(PlatformMalloc(size));
    if (user.Get() == nullptr) {
        Report(Logging::LogLevel::Error, clientId, WIDE("malloc falied"), GetLastError());
        return user;
    }
    if (!GetTokenInformation(token, TokenUser, user.Get(), size, &size)) {
        Warn(clientId, WIDE("GetTokenInformation"), GetLastError());
        return ScopedMalloc(nullptr);
    }
    return user;
}

PSID UserSid(const ScopedMalloc& tokenUser) { return static_cast<TOKEN_USER*>(tokenUser.Get())->User.Sid; }

// A process id names whichever process holds it now: had the client exited and its id
// passed to a process of another user, the id alone would open that user's hive. The
// identity the RPC runtime holds for the client's connection must name the same user.
bool IsCallerTheProcessUser(PSID processUser, const WCHAR* clientId) {
    const ScopedImpersonation impersonation;
    if (impersonation.Status() != RPC_S_OK) {
        Warn(clientId, WIDE("RpcImpersonateClient"), impersonation.Status());
        return false;
    }
    ScopedHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put())) {
        Warn(clientId, WIDE("OpenThreadToken"), GetLastError());
        return false;
    }
    const ScopedMalloc caller = ReadTokenUser(token.Get(), clientId);
    if (caller.Get() == nullptr) return false;
    if (!EqualSid(processUser, UserSid(caller))) {
        Warn(clientId, WIDE("CallerIdentity"), ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

}  // namespace

HKEY KestraneServiceHelper::OpenCurrentUserRegKey(REGSAM access, const WCHAR* clientId) {
    // The service's own HKEY_CURRENT_USER is the service account's hive; the caller's
    // is found from the process that made the RPC call this thread is serving.
    DWORD pid = 0;
    const RPC_STATUS inquiry = InquireCallerProcessId(&pid);
    if (inquiry != 0) {
        Warn(clientId, WIDE("RpcServerInqCallAttributes"), inquiry);
        return nullptr;
    }

    // The least that opens the token: full access is refused for protected processes, and
    // a client's process need grant the host nothing more.
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.IsValid()) {
        Warn(clientId, WIDE("OpenProcess"), GetLastError());
        return nullptr;
    }
    ScopedHandle token;
    if (!OpenProcessToken(process.Get(), TOKEN_READ, token.Put())) {
        Warn(clientId, WIDE("OpenProcessToken"), GetLastError());
        return nullptr;
    }

    const ScopedMalloc user = ReadTokenUser(token.Get(), clientId);
    if (user.Get() == nullptr) return nullptr;
    if (!IsCallerTheProcessUser(UserSid(user), clientId)) return nullptr;

    ScopedLocalText sid;
    if (!ConvertSidToStringSidW(UserSid(user), sid.Put())) {
        Warn(clientId, WIDE("ConvertSidToStringSid"), GetLastError());
        return nullptr;
    }

    HKEY hive = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_USERS, sid.Get(), 0, access, &hive);
    if (opened != ERROR_SUCCESS) {
        Warn(clientId, WIDE("RegOpenKey"), opened);
        return nullptr;
    }
    return hive;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
