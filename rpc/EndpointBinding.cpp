#include "rpc/EndpointBinding.h"

namespace Kestrane::Host {

unsigned long BindToEndpoint(const std::wstring& endpoint, handle_t* binding) {
    RPC_WSTR text = nullptr;
    RPC_STATUS status = RpcStringBindingComposeW(
        nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")), nullptr,
        endpoint.empty() ? nullptr : reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(endpoint.c_str())), nullptr,
        &text);
    if (status != RPC_S_OK) return status;
    status = RpcBindingFromStringBindingW(text, binding);
    RpcStringFreeW(&text);
    return status;
}

bool RunningUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

bool EndpointAnswers(const std::wstring& endpoint) {
    handle_t binding = nullptr;
    if (BindToEndpoint(endpoint, &binding) != RPC_S_OK) return false;
    // Identify level: whoever answers may learn who asks, never act as the host.
    RPC_SECURITY_QOS qos = {RPC_C_SECURITY_QOS_VERSION, RPC_C_QOS_CAPABILITIES_DEFAULT, RPC_C_QOS_IDENTITY_STATIC,
                            RPC_C_IMP_LEVEL_IDENTIFY};
    RPC_STATUS listening = RpcBindingSetAuthInfoExW(binding, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_AUTHN_NONE,
                                                    nullptr, RPC_C_AUTHZ_NONE, &qos);
    if (listening == RPC_S_OK) listening = RpcMgmtIsServerListening(binding);
    RpcBindingFree(&binding);
    return listening == RPC_S_OK;
}

}  // namespace Kestrane::Host
