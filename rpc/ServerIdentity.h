// Before a client sends anything of its own, it checks who serves the endpoint it
// reached: a process squatting the name could answer whatever it likes and, given the
// chance, act as its callers.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

// The Windows SDK's ERROR_SERVER_SID_MISMATCH, which mingw-w64 does not declare.
constexpr unsigned long kServerNotTrusted = 628;

// The account the service runs as: LocalSystem.
constexpr const wchar_t* kServiceAccountSid = L"S-1-5-18";

// 0 when the server behind the binding runs as `account` (a SID in text form) or, when
// `account` is empty, as the service account or as this process's own user (who could
// do anything to this process anyway). kServerNotTrusted when it runs as another
// account or will not say; otherwise the RPC error of reaching it. *serverAccount gets
// the account found, when one was. The binding is left to identify the client only:
// a server cannot act as it.
unsigned long VerifyServerIdentity(handle_t binding, const std::wstring& account, std::wstring* serverAccount);

}  // namespace Kestrane::Host
