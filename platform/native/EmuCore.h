// What the emulation's parts share and the code under test never sees: the one lock
// over all emulated state, handle values, fault lookup and text helpers.
#pragma once

#include "platform/Win32.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace KestraneEmu::Detail {

// Every emulated call holds this while it touches shared state; calls that need
// another part's state use that part's *Locked function instead of locking again.
std::mutex& StateMutex();

// Handle values for keys, processes and tokens: never reused, so a stale handle
// stays invalid instead of naming whatever was opened after it.
std::uintptr_t NextHandleValueLocked();

// True when an injected fault claims this call of `function`; `error` is what to fail with.
bool TakeFault(const char* function, DWORD* error);
void ClearFaultsLocked();

// The SID text of the user the current process runs as (its HKEY_CURRENT_USER).
std::u16string CurrentUserSidLocked();
// The user of process `pid`, empty when there is no such process.
std::u16string ProcessUserSidLocked(DWORD pid);
// The user this thread impersonates, empty when it impersonates nobody.
std::u16string ImpersonatedUserSid();
void ResetProcessesLocked();

// A LocalAlloc'd copy of a text, counted until LocalFree.
WCHAR* LocalAllocTextLocked(const std::u16string& text);

// ExpandEnvironmentStringsW over a small fixed environment.
std::u16string ExpandEnvironmentText(const std::u16string& text);

// Wine's registry compares names case-insensitively by lowercase, which also
// fixes the order in which subkeys and values enumerate.
std::u16string FoldCase(const std::u16string& text);

}  // namespace KestraneEmu::Detail
