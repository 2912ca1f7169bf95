#include "access/CallerProcessId.h"

#include "platform/RpcCallAttributes.h"

#include <cstring>

namespace Qv::Corvane::Server::Services::Kestrane {

namespace {

#ifdef _WIN32
using InquireFunction = RPC_STATUS (*)(DWORD* pid);

// Windows answers through the call attributes.
RPC_STATUS InquireByCallAttributes(DWORD* pid) {
    RPC_CALL_ATTRIBUTES_V3_W attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Version = 3;
    attributes.Flags = RPC_QUERY_CLIENT_PID;
    const RPC_STATUS status = RpcServerInqCallAttributesW(nullptr, &attributes);
    if (status == RPC_S_OK) *pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(attributes.ClientPID));
    return status;
}

// Wine's RpcServerInqCallAttributesW is an unimplemented stub that aborts the
// process; its local-client query answers the same question for ncalrpc calls.
RPC_STATUS InquireByLocalClientPid(DWORD* pid) {
    unsigned long value = 0;
    const RPC_STATUS status = I_RpcBindingInqLocalClientPID(nullptr, &value);
    if (status == RPC_S_OK) *pid = static_cast<DWORD>(value);
    return status;
}

InquireFunction ChooseInquiry() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return wine ? InquireByLocalClientPid : InquireByCallAttributes;
}

RPC_STATUS AskRuntime(DWORD* pid) {
    // The platform does not change under a running process: decided at first use.
    static const InquireFunction inquire = ChooseInquiry();
    return inquire(pid);
}
#else
RPC_STATUS AskRuntime(DWORD* pid) {
    ULONG value = 0;
    const RPC_STATUS status = I_RpcBindingInqLocalClientPID(nullptr, &value);
    if (status == 0) *pid = value;
    return status;
}
#endif

// The answer for the request this thread serves; only a success is kept, so a failure is
// asked again (and logged again) by whoever needs the answer next.
struct RequestAnswer {
    int scopes = 0;
    bool known = false;
    DWORD pid = 0;
};
thread_local RequestAnswer requestAnswer;

}  // namespace

CallerProcessIdScope::CallerProcessIdScope() {
    if (requestAnswer.scopes++ == 0) requestAnswer.known = false;
}

CallerProcessIdScope::~CallerProcessIdScope() {
    if (--requestAnswer.scopes == 0) requestAnswer.known = false;
}

RPC_STATUS InquireCallerProcessId(DWORD* pid) {
    RequestAnswer& answer = requestAnswer;
    if (answer.known) {
        *pid = answer.pid;
        return RPC_S_OK;
    }
    const RPC_STATUS status = AskRuntime(pid);
    if (status == RPC_S_OK && answer.scopes > 0) {
        answer.known = true;
        answer.pid = *pid;
    }
    return status;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
