#include "rpc/EndpointBinding.h"

namespace Kestrane::Host {

unsigned long BindToEndpoint(const std::wstring& endpoint, handle_t* binding) {
    RPC_WSTR text = nullptr;
    RPC_STATUS status =
        RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")), nullptr,
                                 reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(endpoint.c_str())), nullptr, &text);
    if (status != RPC_S_OK) return status;
    status = RpcBindingFromStringBindingW(text, binding);
    RpcStringFreeW(&text);
    return status;
}

bool EndpointAnswers(const std::wstring& endpoint) {
    handle_t binding = nullptr;
    if (BindToEndpoint(endpoint, &binding) != RPC_S_OK) return false;
    const RPC_STATUS listening = RpcMgmtIsServerListening(binding);
    RpcBindingFree(&binding);
    return listening == RPC_S_OK;
}

}  // namespace Kestrane::Host
