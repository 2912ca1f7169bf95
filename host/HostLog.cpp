#include "host/HostLog.h"

#include "logging/Logging.h"

namespace Kestrane::Host {

using Qv::Corvane::Logging::LogManager;

void LogInfo(const wchar_t* text) { LogManager::GetLogger()->LogInfo(text); }

void LogError(const wchar_t* text) { LogManager::GetLogger()->LogError(text); }

void LogRejected(const wchar_t* clientId, const char* operation, const wchar_t* reason) {
    LogManager::GetLogger()->LogWarning(Qv::Corvane::Logging::CreateLoggingData(L"%S.%S - refused %s", clientId),
                                        "KestraneHost", operation, reason);
}

}  // namespace Kestrane::Host
