#include "host/HostLog.h"

#include "logging/Logging.h"

namespace Kestrane::Host {

using Qv::Corvane::Logging::LogManager;

void OpenLog() { Qv::Corvane::Logging::OpenLog(); }

void FlushLog() { Qv::Corvane::Logging::FlushLog(); }

void CloseLog() { Qv::Corvane::Logging::CloseLog(); }

void LogInfo(const wchar_t* text) { LogManager::GetLogger()->LogInfo(text); }

void LogError(const wchar_t* text) { LogManager::GetLogger()->LogError(text); }

void LogSessionOpened(const wchar_t* clientId, unsigned long processId) {
    LogManager::GetLogger()->LogInfo(
        Qv::Corvane::Logging::CreateLoggingData(L"%S.%S - session opened by process %d", clientId), "KestraneHost",
        "OpenSession", processId);
}

void LogRejected(const wchar_t* clientId, unsigned long processId, const char* operation, const wchar_t* reason) {
    LogManager::GetLogger()->LogWarning(
        Qv::Corvane::Logging::CreateLoggingData(L"%S.%S - refused %s (process %d)", clientId), "KestraneHost",
        operation, reason, processId);
}

}  // namespace Kestrane::Host
