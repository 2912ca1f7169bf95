// Before a client sends anything of its own, it makes sure of who serves the endpoint it
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

// Binds *binding (freed by the caller, whatever the answer) to ncalrpc:endpoint (empty: the
// endpoint the endpoint mapper holds for the service, rpc/EndpointBinding.h) so that
// its calls reach only a server running as `account` (a SID in text form) or, when
// `account` is empty, as the service account or as this process's own user (who could do
// anything to this process anyway), and identify the client to it, no more. Returns 0
// when one answered, kServerNotTrusted when the server runs as another account or will
// not say, otherwise the RPC error of reaching it. *serverAccount gets the account found.
unsigned long ConnectToTrustedServer(const std::wstring& endpoint, const std::wstring& account, handle_t* binding,
                                     std::wstring* serverAccount);

}  // namespace Kestrane::Host
