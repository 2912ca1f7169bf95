// The RPC call this thread is serving: its client's process id and the user the
// connection carries, which the thread can impersonate.
#include "platform/native/EmuCore.h"
#include "platform/native/Emulation.h"

namespace KestraneEmu {
namespace {

thread_local DWORD rpcClientPid = 0;
thread_local std::u16string rpcClientUser;
thread_local std::u16string impersonatedUser;

}  // namespace

void SetRpcClientPid(DWORD pid) {
    rpcClientPid = pid;
    impersonatedUser.clear();
    if (pid == 0) {
        rpcClientUser.clear();
        return;
    }
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    rpcClientUser = Detail::ProcessUserSidLocked(pid);
}

bool IsImpersonating() { return !impersonatedUser.empty(); }

namespace Detail {

std::u16string ImpersonatedUserSid() { return impersonatedUser; }

}  // namespace Detail
}  // namespace KestraneEmu

RPC_STATUS I_RpcBindingInqLocalClientPID(RPC_BINDING_HANDLE /*binding*/, ULONG* pid) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("I_RpcBindingInqLocalClientPID", &error)) return static_cast<RPC_STATUS>(error);
    if (pid == nullptr) return RPC_S_INVALID_ARG;
    if (KestraneEmu::rpcClientPid == 0) return RPC_S_NO_CALL_ACTIVE;
    *pid = KestraneEmu::rpcClientPid;
    return RPC_S_OK;
}

RPC_STATUS RpcImpersonateClient(RPC_BINDING_HANDLE /*binding*/) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("RpcImpersonateClient", &error)) return static_cast<RPC_STATUS>(error);
    if (KestraneEmu::rpcClientPid == 0) return RPC_S_NO_CALL_ACTIVE;
    KestraneEmu::impersonatedUser = KestraneEmu::rpcClientUser;
    return RPC_S_OK;
}

RPC_STATUS RpcRevertToSelf() {
    if (KestraneEmu::rpcClientPid == 0) return RPC_S_NO_CALL_ACTIVE;
    KestraneEmu::impersonatedUser.clear();
    return RPC_S_OK;
}
