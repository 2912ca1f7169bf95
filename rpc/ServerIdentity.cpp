#include "rpc/ServerIdentity.h"

#include "KestraneHost.h"
#include "rpc/ProcessAccount.h"
#include "rpc/RpcGuard.h"

#include <sddl.h>

#include <memory>

namespace Kestrane::Host {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

std::wstring AccountOfProcess(DWORD pid) {
    const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return ProcessAccount(process.get());
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Calls on the binding identify the client and no more; with a SID, the runtime also
// refuses a connection to a server that does not run as that account (ncalrpc mutual
// authentication, checked by the system when the connection is made).
RPC_STATUS RequireServer(handle_t binding, PSID account) {
    RPC_SECURITY_QOS_V3_W qos = {};
    qos.Version = 3;
    qos.Capabilities = account != nullptr ? RPC_C_QOS_CAPABILITIES_MUTUAL_AUTH : RPC_C_QOS_CAPABILITIES_DEFAULT;
    qos.IdentityTracking = RPC_C_QOS_IDENTITY_STATIC;
    qos.ImpersonationType = RPC_C_IMP_LEVEL_IDENTIFY;
    qos.Sid = account;
    return RpcBindingSetAuthInfoExW(binding, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_AUTHN_WINNT, nullptr,
                                    RPC_C_AUTHZ_NONE, reinterpret_cast<RPC_SECURITY_QOS*>(&qos));
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

}  // namespace

unsigned long VerifyServerIdentity(handle_t binding, const std::wstring& account, std::wstring* serverAccount) {
    // Wine's runtime has no security provider for ncalrpc; there the server's own
    // answer, checked against its process, is all there is.
    const bool wine = RunningUnderWine();
    if (!wine) {
        const RPC_STATUS status = RequireServer(binding, nullptr);
        if (status != RPC_S_OK) return status;
    }
    DWORD pid = 0;
    const unsigned long reached = AskServerProcess(binding, &pid);
    if (reached != 0) return reached;
    // The answer is only a claim; the account is the system's word on that process.
    *serverAccount = AccountOfProcess(pid);
    const bool allowed = account.empty()
                             ? *serverAccount == kServiceAccountSid ||
                                   *serverAccount == ProcessAccount(GetCurrentProcess())
                             : *serverAccount == account;
    if (serverAccount->empty() || !allowed) return kServerNotTrusted;
    if (wine) return 0;
    // A squatter can name another process as its own; the system can tell whether the
    // server on this connection really runs as that process's account.
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(serverAccount->c_str(), &sid)) return kServerNotTrusted;
    const std::unique_ptr<void, LocalFreer> ownedSid(sid);
    if (RequireServer(binding, sid) != RPC_S_OK) return kServerNotTrusted;
    DWORD again = 0;
    if (AskServerProcess(binding, &again) != 0 || again != pid) return kServerNotTrusted;
    return 0;
}

}  // namespace Kestrane::Host
