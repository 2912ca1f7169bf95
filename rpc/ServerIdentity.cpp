#include "rpc/ServerIdentity.h"

#include "KestraneHost.h"
#include "rpc/EndpointBinding.h"
#include "rpc/ProcessAccount.h"
#include "rpc/RpcGuard.h"

#include <sddl.h>

#include <memory>
#include <vector>

namespace Kestrane::Host {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// A fresh binding: settings made on a binding that has already called do not apply to the
// connection it already holds.
unsigned long Rebind(const std::wstring& endpoint, handle_t* binding) {
    if (*binding != nullptr) RpcBindingFree(binding);
    return BindToEndpoint(endpoint, binding);
}

// ncalrpc authentication through the system: calls identify the client and no more, and
// the runtime connects only to a server running as `account` (mutual authentication; on
// ncalrpc the runtime checks the server against the Sid of the quality of service). A
// binding without an endpoint also asks the endpoint mapper only for entries that
// `account` registered, so an entry another user put in the map is never chosen over the
// service's.
RPC_STATUS RequireServer(handle_t binding, PSID account, bool throughMapper) {
    RPC_SECURITY_QOS_V3_W qos = {};
    qos.Version = 3;
    qos.Capabilities = RPC_C_QOS_CAPABILITIES_MUTUAL_AUTH | (throughMapper ? RPC_C_QOS_CAPABILITIES_LOCAL_MA_HINT : 0);
    qos.IdentityTracking = RPC_C_QOS_IDENTITY_STATIC;
    qos.ImpersonationType = RPC_C_IMP_LEVEL_IDENTIFY;
    qos.Sid = account;
    return RpcBindingSetAuthInfoExW(binding, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_AUTHN_WINNT, nullptr,
                                    RPC_C_AUTHZ_NONE, reinterpret_cast<RPC_SECURITY_QOS*>(&qos));
}

// Where the runtime has no ncalrpc authentication, the level the client's identity goes
// out at is still set: a server may identify the client, never act as it.
RPC_STATUS IdentifyOnly(handle_t binding) {
    RPC_SECURITY_QOS qos = {RPC_C_SECURITY_QOS_VERSION, RPC_C_QOS_CAPABILITIES_DEFAULT, RPC_C_QOS_IDENTITY_STATIC,
                            RPC_C_IMP_LEVEL_IDENTIFY};
    return RpcBindingSetAuthInfoExW(binding, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_AUTHN_NONE, nullptr,
                                    RPC_C_AUTHZ_NONE, &qos);
}

unsigned long AskServerProcess(handle_t binding, DWORD* pid) {
    long result = 0;
    unsigned long reported = 0;
    const unsigned long error = KestraneRpcGuarded([&] { result = ServerIdentity(binding, &reported); });
    if (error != 0) return error;
    if (result != 0) return static_cast<unsigned long>(result);
    *pid = reported;
    return 0;
}

// No server at all, as opposed to a server the runtime would not connect to.
bool NobodyThere(unsigned long error) {
    return error == RPC_S_SERVER_UNAVAILABLE || error == EPT_S_NOT_REGISTERED || error == RPC_S_INVALID_BINDING ||
           error == RPC_S_INVALID_ENDPOINT_FORMAT;
}

std::vector<std::wstring> Acceptable(const std::wstring& account) {
    if (!account.empty()) return {account};
    return {kServiceAccountSid, ProcessAccount(GetCurrentProcess())};
}

unsigned long ConnectAuthenticated(const std::wstring& endpoint, const std::wstring& account, handle_t* binding,
                                   std::wstring* serverAccount) {
    // Every account is tried, whatever the last refusal was: how the runtime words a server
    // of another account is not something to rely on. Only when no attempt met a server is
    // the answer that nobody serves the endpoint.
    unsigned long unreached = 0;
    bool metAServer = false;
    for (const std::wstring& candidate : Acceptable(account)) {
        PSID sid = nullptr;
        if (!ConvertStringSidToSidW(candidate.c_str(), &sid)) continue;
        const std::unique_ptr<void, LocalFreer> ownedSid(sid);
        const unsigned long bound = Rebind(endpoint, binding);
        if (bound != RPC_S_OK) return bound;
        // A runtime that refuses the setting gets nothing sent.
        if (RequireServer(*binding, sid, endpoint.empty()) != RPC_S_OK) return kServerNotTrusted;
        DWORD pid = 0;
        const unsigned long reached = AskServerProcess(*binding, &pid);
        if (reached == 0) {
            *serverAccount = candidate;
            return 0;
        }
        if (NobodyThere(reached)) {
            if (unreached == 0) unreached = reached;
        } else {
            metAServer = true;
        }
    }
    return metAServer || unreached == 0 ? kServerNotTrusted : unreached;
}

// Wine: every process runs as one user and the runtime checks no server. The server names
// its process; the system says which account runs that process.
unsigned long ConnectByProcessAccount(const std::wstring& endpoint, const std::wstring& account, handle_t* binding,
                                      std::wstring* serverAccount) {
    const unsigned long bound = Rebind(endpoint, binding);
    if (bound != RPC_S_OK) return bound;
    if (IdentifyOnly(*binding) != RPC_S_OK) return kServerNotTrusted;
    DWORD pid = 0;
    const unsigned long reached = AskServerProcess(*binding, &pid);
    if (reached != 0) return reached;
    const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    *serverAccount = ProcessAccount(process.get());
    for (const std::wstring& candidate : Acceptable(account)) {
        if (!serverAccount->empty() && *serverAccount == candidate) return 0;
    }
    return kServerNotTrusted;
}

}  // namespace

unsigned long ConnectToTrustedServer(const std::wstring& endpoint, const std::wstring& account, handle_t* binding,
                                     std::wstring* serverAccount) {
    serverAccount->clear();
    return RunningUnderWine() ? ConnectByProcessAccount(endpoint, account, binding, serverAccount)
                              : ConnectAuthenticated(endpoint, account, binding, serverAccount);
}

}  // namespace Kestrane::Host
