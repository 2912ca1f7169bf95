// Test controls of the native Win32 emulation: the state that on Windows comes from
// the machine (registry contents, processes, the RPC caller) and fault injection.
#pragma once

#include "platform/native/WinApi.h"

#include <cstddef>
#include <string>

namespace KestraneEmu {

// The user every emulated process runs as unless told otherwise (Wine's only user).
inline constexpr const char16_t* kDefaultUserSid = u"S-1-5-21-0-0-0-1000";

// Empties the registry and recreates the skeleton the tests rely on:
// HKEY_LOCAL_MACHINE\SOFTWARE, HKEY_LOCAL_MACHINE\SYSTEM, HKEY_CLASSES_ROOT,
// HKEY_CURRENT_CONFIG, HKEY_USERS\<kDefaultUserSid>, and Windows' own links in front of
// listed keys: SYSTEM\CurrentControlSet -> ControlSet001, ControlSet001's
// Control\Print\Printers -> the printers key of SOFTWARE\Microsoft\Windows
// NT\CurrentVersion\Print, HKEY_USERS\S-1-5-18 -> .Default and the default
// user's Software\Classes -> HKEY_USERS\<kDefaultUserSid>_Classes.
// Also clears faults and denials. Keys opened before stay valid but dangle.
void ResetRegistry();

// Makes an open/create of the key at `path` (below a predefined root, e.g.
// u"SOFTWARE\\QV\\Locked") fail with ERROR_ACCESS_DENIED when the requested rights
// include any of `deniedRights`; deletes of it are refused too.
void DenyAccess(HKEY root, const std::u16string& path, REGSAM deniedRights);

// Processes: pid -> user SID text. The current process exists from the start.
void AddProcess(DWORD pid, const std::u16string& userSid);
void RemoveProcess(DWORD pid);
// The session a process runs in (1 unless told otherwise, as for Wine's processes).
void SetProcessSession(DWORD pid, DWORD session);

// The RPC call being served on this thread: the client's pid, or 0 for none
// (then the caller lookup fails with RPC_S_NO_CALL_ACTIVE). Thread-local. The call's
// client is the user that process runs as now: RpcImpersonateClient takes that user
// even after AddProcess gives the pid to another, as a connection keeps its client's
// token when the client's process id passes to a new process.
void SetRpcClientPid(DWORD pid);

// True while this thread impersonates its RPC client.
bool IsImpersonating();

// Fault injection: the `nth` next call (1 = the very next) of `function` fails with
// `error` (for calls that return BOOL, they return FALSE and set the last error).
// `function` is the Win32 name: "OpenProcess", "OpenProcessToken",
// "GetTokenInformation", "ConvertSidToStringSidW", "RegOpenKeyExW",
// "RegQueryInfoKeyW", "RegEnumValueW", "RegEnumKeyExW", "RegGetValueW",
// "RegQueryValueExW", "RegCreateKeyExW", "RegSetValueExW", "RegDeleteKeyW",
// "RegDeleteKeyValueW", "CryptBinaryToStringW", "CryptStringToBinaryW",
// "I_RpcBindingInqLocalClientPID", "RpcImpersonateClient", "OpenThreadToken", and
// "malloc" (PlatformMalloc).
void FailCall(const char* function, int nth, DWORD error);
void ClearFaults();

// Counts of what the code under test still holds: open registry keys (not the
// predefined roots), process and token handles, LocalAlloc'd SID texts.
std::size_t OpenKeyCount();
std::size_t OpenHandleCount();
std::size_t LocalAllocCount();

// The access mask the last successful RegOpenKeyExW/RegCreateKeyExW was given.
REGSAM LastOpenAccess();

}  // namespace KestraneEmu
