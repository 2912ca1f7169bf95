// The host's own lines in the log, through Logging.dll like the module's.
#pragma once

namespace Kestrane::Host {

// Opens the log on the host's own account, before any client is served; FlushLog writes
// out the lines still waiting (the library's writer does so otherwise). CloseLog, when the
// host stops serving, also writes how many lines each client had held back in its window:
// a flood just before a stop would otherwise leave no trace of what it sent.
void OpenLog();
void FlushLog();
void CloseLog();
void LogInfo(const wchar_t* text);
void LogError(const wchar_t* text);
// A session opened: the id the client claimed, and the process id the RPC runtime gave.
void LogSessionOpened(const wchar_t* clientId, unsigned long processId);
// A request or session the host turned away before the module saw it; the process id is
// the one the RPC runtime gave for the session (0 when there is none).
void LogRejected(const wchar_t* clientId, unsigned long processId, const char* operation, const wchar_t* reason);

}  // namespace Kestrane::Host
