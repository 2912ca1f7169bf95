// Who may see what the host holds (sessions open, calls running): an administrator or
// the account the host itself runs as. Everyone else learns nothing from it.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

// Whether the holder of this token (impersonation or identification level) may, when
// the host runs as hostAccount (a SID in text form).
bool TokenMayReadHostStatus(HANDLE token, const std::wstring& hostAccount);

// The same for the client of the RPC call this thread is serving; false when the
// client cannot be identified.
bool CallerMayReadHostStatus(handle_t binding);

}  // namespace Kestrane::Host
