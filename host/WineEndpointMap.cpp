#include "host/WineEndpointMap.h"

#include "rpc/EndpointBinding.h"

#include <string>

namespace Kestrane::Host {

namespace {

// The endpoint part of a binding (server's or resolved client's).
RPC_STATUS EndpointOf(RPC_BINDING_HANDLE binding, std::wstring* endpoint) {
    RPC_WSTR text = nullptr;
    RPC_STATUS status = RpcBindingToStringBindingW(binding, &text);
    if (status != RPC_S_OK) return status;
    RPC_WSTR part = nullptr;
    status = RpcStringBindingParseW(text, nullptr, nullptr, nullptr, &part, nullptr);
    RpcStringFreeW(&text);
    if (status != RPC_S_OK) return status;
    *endpoint = part != nullptr ? reinterpret_cast<wchar_t*>(part) : L"";
    RpcStringFreeW(&part);
    return RPC_S_OK;
}

// The endpoint a client that names none is sent to; empty when the map has no entry.
RPC_STATUS MappedEndpoint(RPC_IF_HANDLE served, std::wstring* endpoint) {
    endpoint->clear();
    handle_t binding = nullptr;
    RPC_STATUS status = BindToEndpoint(L"", &binding);
    if (status != RPC_S_OK) return status;
    status = RpcEpResolveBinding(binding, served);
    if (status == RPC_S_OK) status = EndpointOf(binding, endpoint);
    RpcBindingFree(&binding);
    return status == EPT_S_NOT_REGISTERED ? RPC_S_OK : status;
}

}  // namespace

RPC_STATUS PutFirstInWineMap(RPC_IF_HANDLE served, RPC_BINDING_VECTOR* own, const wchar_t* note) {
    if (own->Count == 0) return RPC_S_NO_BINDINGS;
    std::wstring ours;
    RPC_STATUS status = EndpointOf(own->BindingH[0], &ours);
    if (status != RPC_S_OK) return status;
    for (unsigned replaced = 0;; ++replaced) {
        std::wstring first;
        status = MappedEndpoint(served, &first);
        if (status != RPC_S_OK) return status;
        if (first == ours) return RPC_S_OK;
        // A registration would take a live host's place: its clients would be sent here.
        if (!first.empty() && EndpointAnswers(first)) return RPC_S_DUPLICATE_ENDPOINT;
        if (replaced == kMaxStaleMapEntries) return EPT_S_CANT_PERFORM_OP;
        status = RpcEpRegisterW(served, own, nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(note)));
        if (status != RPC_S_OK) return status;
    }
}

}  // namespace Kestrane::Host
