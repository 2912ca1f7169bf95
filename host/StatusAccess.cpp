#include "host/StatusAccess.h"

#include "rpc/ProcessAccount.h"

#include <sddl.h>

#include <memory>
#include <string>

namespace Kestrane::Host {

namespace {

constexpr DWORD kReadStatus = 1;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

bool TokenMayReadHostStatus(HANDLE token, const std::wstring& hostAccount) {
    if (hostAccount.empty()) return false;
    // The system's own access check decides, so deny-only and disabled groups count as
    // they do everywhere else.
    const std::wstring text = L"O:BAG:BAD:(A;;0x1;;;BA)(A;;0x1;;;" + hostAccount + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    // Only reading is mapped. Were generic write mapped to the read bit too, the integrity
    // label's no-write-up rule would deny the read to every caller of lower integrity than
    // the host, administrators included.
    GENERIC_MAPPING mapping = {kReadStatus, 0, 0, kReadStatus};
    PRIVILEGE_SET privileges = {};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    return AccessCheck(descriptor, token, kReadStatus, &mapping, &privileges, &privilegesSize, &granted, &allowed) &&
           allowed;
}

bool CallerMayReadHostStatus(handle_t binding) {
    if (RpcImpersonateClient(binding) != RPC_S_OK) return false;
    HANDLE rawToken = nullptr;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &rawToken);
    // Back to the host's own account before anything else runs on this thread.
    const RPC_STATUS reverted = RpcRevertToSelf();
    const OwnedHandle token(opened ? rawToken : nullptr);
    static const std::wstring hostAccount = ProcessAccount(GetCurrentProcess());
    return opened && reverted == RPC_S_OK && TokenMayReadHostStatus(rawToken, hostAccount);
}

}  // namespace Kestrane::Host
