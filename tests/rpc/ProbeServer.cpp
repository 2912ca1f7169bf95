#include "tests/rpc/ProbeServer.h"

#include "CallerProbe.h"
#include "access/CallerProcessId.h"
#include "access/KestraneServiceHelper.h"
#include "host/ContractObjects.h"
#include "platform/NtKeyCalls.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace Svc = Qv::Corvane::Server::Services;
using Svc::Kestrane::KestraneServiceHelper;

namespace {

constexpr DWORD kStopTimeoutMs = 60000;
const wchar_t* const kClientId = L"rpc-probe";

// The service the routines run requests through; set while a ProbeServer lives.
std::atomic<Svc::QVService*> g_service{nullptr};
std::atomic<bool> g_serving{false};
std::atomic<unsigned> g_endpointCount{0};

// A copy the server stub sends and then frees with MIDL_user_free.
wchar_t* StubCopy(const wchar_t* text, std::size_t length) {
    auto* copy = static_cast<wchar_t*>(MIDL_user_allocate((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = L'\0';
    return copy;
}

// Which key the handle really names.
wchar_t* KeyName(HKEY key) {
    std::basic_string<WCHAR> name;
    return QueryKeyName(key, &name) == ERROR_SUCCESS ? StubCopy(name.c_str(), name.size()) : nullptr;
}

DWORD WINAPI WaitForListenEnd(void*) { return RpcMgmtWaitServerListen(); }

}  // namespace

LONG ProbeCurrentUser(handle_t, ULONG access, LONG* gotKey, wchar_t** keyName, ULONG* inquiryStatus,
                      ULONG* clientPid, ULONG* threadTokenError) {
    const HKEY key = KestraneServiceHelper::OpenCurrentUserRegKey(access, kClientId);
    *gotKey = key != nullptr ? 1 : 0;
    *keyName = key != nullptr ? KeyName(key) : nullptr;
    if (key != nullptr) RegCloseKey(key);
    DWORD pid = 0;
    *inquiryStatus = static_cast<ULONG>(Svc::Kestrane::InquireCallerProcessId(&pid));
    *clientPid = pid;
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        CloseHandle(token);
        *threadTokenError = 0;
    } else {
        *threadTokenError = GetLastError();
    }
    return 0;
}

LONG ProbeExecute(handle_t, LONG functionId, const wchar_t* request, LONG whiteListExempt, ULONG* status,
                  wchar_t** response) {
    *status = 0;
    *response = nullptr;
    Svc::QVService* service = g_service.load();
    if (service == nullptr) return 1;
    Svc::ClientContext* context = nullptr;
    if (service->CreateClientContext(kClientId, &context) != 0) return 2;
    Kestrane::Host::FixedAccessPolicy policy(true);
    WCHAR* out = nullptr;
    *status = service->ExecuteCommand(context, functionId, request, &out, Kestrane::Host::CallbackArgument().get(),
                                      whiteListExempt ? &policy : nullptr);
    if (out != nullptr) {
        *response = StubCopy(out, std::wcslen(out));
        service->FreeOutString(out);
    }
    service->ReleaseClientContext(&context);
    return 0;
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

ProbeServer::~ProbeServer() { Stop(); }

void ProbeServer::Stop() {
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
