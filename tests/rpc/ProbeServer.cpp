#include "tests/rpc/ProbeServer.h"

#include "CallerProbe.h"
#include "access/ScopedHandles.h"
#include "host/ContractObjects.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace Svc = Qv::Corvane::Server::Services;

namespace {

constexpr DWORD kStopTimeoutMs = 60000;
const wchar_t* const kClientId = L"rpc-probe";

// The service the routines run requests through; set while a ProbeServer lives.
std::atomic<Svc::QVService*> g_service{nullptr};
std::atomic<bool> g_serving{false};
std::atomic<unsigned> g_endpointCount{0};

// A copy the server stub sends and then frees with MIDL_user_free.
wchar_t* StubCopy(const wchar_t* text) {
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(MIDL_user_allocate(bytes));
    if (copy != nullptr) std::memcpy(copy, text, bytes);
    return copy;
}

DWORD WINAPI WaitForListenEnd(void*) { return RpcMgmtWaitServerListen(); }

}  // namespace

LONG ProbeExecute(handle_t, LONG functionId, const wchar_t* request, ULONG* status, wchar_t** response) {
    *status = 0;
    *response = nullptr;
    Svc::QVService* service = g_service.load();
    if (service == nullptr) return 1;
    Svc::ClientContext* context = nullptr;
    if (service->CreateClientContext(kClientId, &context) != 0) return 2;
    WCHAR* out = nullptr;
    *status = service->ExecuteCommand(context, functionId, request, &out, Kestrane::Host::CallbackArgument().get(),
                                      nullptr);
    if (out != nullptr) {
        *response = StubCopy(out);
        service->FreeOutString(out);
    }
    service->ReleaseClientContext(&context);
    // The module may impersonate the client to compare users; the rest of the call, and
    // whatever this thread serves next, must run as the server again.
    Svc::Kestrane::ScopedHandle token;
    const bool impersonating =
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) || GetLastError() != ERROR_NO_TOKEN;
    return impersonating ? 3 : 0;
}

namespace KestraneTest {

ProbeServer::ProbeServer(Svc::QVService* service) {
    if (g_serving.exchange(true)) {
        status_ = RPC_S_ALREADY_LISTENING;
        return;
    }
    owner_ = true;
    g_service = service;
    // ncalrpc endpoints are machine-wide: the pid keeps parallel runs apart.
    endpoint_ = L"kestrane-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(g_endpointCount++);
    auto* protseq = reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc"));
    auto* endpoint = reinterpret_cast<RPC_WSTR>(endpoint_.data());
    status_ = RpcServerUseProtseqEpW(protseq, RPC_C_PROTSEQ_MAX_REQS_DEFAULT, endpoint, nullptr);
    if (status_ != RPC_S_OK) return;
    status_ = RpcServerRegisterIf(CallerProbe_v1_0_s_ifspec, nullptr, nullptr);
    if (status_ != RPC_S_OK) return;
    registered_ = true;
    status_ = RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, TRUE);
    listening_ = status_ == RPC_S_OK;
}

ProbeServer::~ProbeServer() {
    if (!owner_) return;  // another server owns the routines
    if (listening_) {
        RpcMgmtStopServerListening(nullptr);
        // Waiting for the last call to end is bounded: a routine stuck in the module
        // must fail the run, not hold it until the suite's timeout.
        const HANDLE waiter = CreateThread(nullptr, 0, WaitForListenEnd, nullptr, 0, nullptr);
        const DWORD waited = waiter != nullptr ? WaitForSingleObject(waiter, kStopTimeoutMs) : WAIT_FAILED;
        if (waiter != nullptr) CloseHandle(waiter);
        if (waited != WAIT_OBJECT_0) {
            // A call is still running inside the service the test is about to unload.
            std::fprintf(stderr, "ProbeServer: calls still running %lu ms after stopping; giving up\n",
                         kStopTimeoutMs);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    if (registered_) RpcServerUnregisterIf(CallerProbe_v1_0_s_ifspec, nullptr, TRUE);
    g_service = nullptr;
    g_serving = false;
}

}  // namespace KestraneTest
