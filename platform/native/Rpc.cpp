// The RPC call this thread is serving: only its client's process id is emulated.
#include "platform/native/EmuCore.h"
#include "platform/native/Emulation.h"

namespace KestraneEmu {
namespace {

thread_local DWORD rpcClientPid = 0;

}  // namespace

void SetRpcClientPid(DWORD pid) { rpcClientPid = pid; }

}  // namespace KestraneEmu

RPC_STATUS I_RpcBindingInqLocalClientPID(RPC_BINDING_HANDLE /*binding*/, ULONG* pid) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("I_RpcBindingInqLocalClientPID", &error)) return static_cast<RPC_STATUS>(error);
    if (pid == nullptr) return RPC_S_INVALID_ARG;
    if (KestraneEmu::rpcClientPid == 0) return RPC_S_NO_CALL_ACTIVE;
    *pid = KestraneEmu::rpcClientPid;
    return RPC_S_OK;
}
