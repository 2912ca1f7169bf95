// The host's own lines in the log, through Logging.dll like the module's.
#pragma once

namespace Kestrane::Host {

void LogInfo(const wchar_t* text);
void LogError(const wchar_t* text);
// A request or session the host turned away before the module saw it.
void LogRejected(const wchar_t* clientId, const char* operation, const wchar_t* reason);

}  // namespace Kestrane::Host
