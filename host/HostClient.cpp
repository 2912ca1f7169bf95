#include "host/HostClient.h"

#include "KestraneHost.h"
#include "rpc/RpcGuard.h"

namespace Kestrane::Host {

HostSession::HostSession(const std::wstring& endpoint, const std::wstring& clientId) {
    RPC_WSTR text = nullptr;
    openError_ = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                          nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(endpoint.c_str())),
                                          nullptr, &text);
    if (openError_ != RPC_S_OK) return;
    openError_ = RpcBindingFromStringBindingW(text, &binding_);
    RpcStringFreeW(&text);
    if (openError_ != RPC_S_OK) return;
    long result = 0;
    KestraneSession session = nullptr;
    const handle_t binding = binding_;
    const wchar_t* id = clientId.c_str();
    openError_ = KestraneRpcGuarded([&] { result = OpenSession(binding, id, &session); });
    if (openError_ == 0) openError_ = static_cast<unsigned long>(result);
    if (openError_ == 0) session_ = session;
}

HostSession::~HostSession() {
    if (session_ != nullptr) {
        KestraneSession session = session_;
        // A host already gone leaves nothing to close; the stub frees the handle either way.
        KestraneRpcGuarded([&] { CloseSession(&session); });
        if (session != nullptr) RpcSsDestroyClientContext(&session);
    }
    if (binding_ != nullptr) RpcBindingFree(&binding_);
}

Answer HostSession::Execute(long functionId, const std::wstring& request) {
    Answer answer;
    if (session_ == nullptr) {
        answer.rpcError = openError_ != 0 ? openError_ : RPC_S_INVALID_BINDING;
        return answer;
    }
    wchar_t* response = nullptr;
    unsigned long status = 0;
    long result = 0;
    const KestraneSession session = session_;
    const wchar_t* text = request.c_str();
    answer.rpcError = KestraneRpcGuarded([&] { result = ::Execute(session, functionId, text, &status, &response); });
    if (answer.rpcError == 0) answer.hostError = result;
    answer.status = status;
    if (response != nullptr) {
        answer.response = response;
        answer.hasResponse = true;
        MIDL_user_free(response);
    }
    return answer;
}

bool HostSession::HostStatus(unsigned long* liveSessions, unsigned long* callsInFlight) {
    long result = -1;
    const handle_t binding = binding_;
    const unsigned long error =
        KestraneRpcGuarded([&] { result = ::HostStatus(binding, liveSessions, callsInFlight); });
    return error == 0 && result == 0;
}

unsigned long HostSession::StopHost() {
    long result = 0;
    const handle_t binding = binding_;
    const unsigned long error = KestraneRpcGuarded([&] { result = ::StopHost(binding); });
    return error != 0 ? error : static_cast<unsigned long>(result);
}

}  // namespace Kestrane::Host
