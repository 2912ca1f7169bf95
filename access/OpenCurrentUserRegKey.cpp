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

    const ScopedHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
    if (!process.IsValid()) {
        Warn(clientId, WIDE("OpenProcess"), 0);
        return nullptr;
    }
    ScopedHandle token;
    if (!OpenProcessToken(process.Get(), TOKEN_READ, token.Put())) {
        Warn(clientId, WIDE("OpenProcessToken"), GetLastError());
        return nullptr;
    }

    // The sizing call is meant to fail: with no buffer, the one good answer is
    // "insufficient buffer" and the size the user needs.
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Warn(clientId, WIDE("GetTokenInformation"), GetLastError());
        return nullptr;
    }
    const ScopedMalloc user(PlatformMalloc(size));
    if (user.Get() == nullptr) {
        Report(Logging::LogLevel::Error, clientId, WIDE("malloc falied"), GetLastError());
        return nullptr;
    }
    if (!GetTokenInformation(token.Get(), TokenUser, user.Get(), size, &size)) {
        Warn(clientId, WIDE("GetTokenInformation"), GetLastError());
        return nullptr;
    }

    ScopedLocalText sid;
    if (!ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user.Get())->User.Sid, sid.Put())) {
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
