// kestrane-bare-host.exe: the host's RPC interface with nothing behind it but the raw
// registry sequence of an id 4 read. It is what a call through kestrane-host costs at
// the least: the same round trip, the same request and response sizes, the same
// registry calls, and no module.
//
//   kestrane-bare-host.exe ENDPOINT SUBKEY VALUE     (below HKEY_LOCAL_MACHINE)
//
// Every Execute answers the text of the environment variable KESTRANE_BARE_RESPONSE,
// which the benchmark sets to what the host answered for the same request.
#include "KestraneHost.h"
#include "bench/BenchCases.h"
#include "host/RpcHost.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

using KestraneBench::WText;

WText g_subKey;
WText g_valueName;
std::wstring g_response;
HANDLE g_stop = nullptr;
int g_sessionToken = 0;  // a context handle must be non-null; nothing is behind it

}  // namespace

LONG OpenSession(handle_t, ULONG, const wchar_t*, KestraneSession* session) {
    *session = &g_sessionToken;
    return 0;
}

LONG Execute(KestraneSession, LONG, ULONG, const wchar_t*, ULONG* status, wchar_t** response) {
    KestraneBench::ReadOneValue(HKEY_LOCAL_MACHINE, g_subKey, g_valueName, true);
    *status = 0;
    const std::size_t bytes = (g_response.size() + 1) * sizeof(wchar_t);
    *response = static_cast<wchar_t*>(MIDL_user_allocate(bytes));
    if (*response == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(*response, g_response.c_str(), bytes);
    return 0;
}

LONG CloseSession(KestraneSession* session) {
    *session = nullptr;
    return 0;
}

LONG HostStatus(handle_t, ULONG* liveSessions, ULONG* callsInFlight) {
    *liveSessions = 0;
    *callsInFlight = 0;
    return 0;
}

LONG StopHost(handle_t) {
    SetEvent(g_stop);
    return 0;
}

LONG ServerIdentity(handle_t, ULONG* processId) {
    *processId = GetCurrentProcessId();
    return 0;
}

void __RPC_USER KestraneSession_rundown(KestraneSession) {}

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrane-bare-host.exe ENDPOINT SUBKEY VALUE\n");
        return 2;
    }
    g_subKey = argv[2];
    g_valueName = argv[3];
    wchar_t response[8192];
    const DWORD length = GetEnvironmentVariableW(L"KESTRANE_BARE_RESPONSE", response, 8192);
    if (length == 0 || length >= 8192) {
        std::fprintf(stderr, "kestrane-bare-host: KESTRANE_BARE_RESPONSE is not set\n");
        return 2;
    }
    g_response.assign(response, length);
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // Registered as kestrane-host registers, so the runtime does the same work for both.
    using Kestrane::Host::kMaxConcurrentCalls;
    using Kestrane::Host::kMaxRequestBytes;
    RPC_STATUS status = RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                               kMaxConcurrentCalls, reinterpret_cast<RPC_WSTR>(argv[1]), nullptr);
    if (status == RPC_S_OK)
        status = RpcServerRegisterIf2(KestraneHost_v1_0_s_ifspec, nullptr, nullptr, RPC_IF_ALLOW_LOCAL_ONLY,
                                      kMaxConcurrentCalls, kMaxRequestBytes + 4096, nullptr);
    if (status == RPC_S_OK) status = RpcServerListen(1, kMaxConcurrentCalls, TRUE);
    if (status != RPC_S_OK) {
        std::fprintf(stderr, "kestrane-bare-host: cannot serve %ls (%ld)\n", argv[1], status);
        return 1;
    }
    WaitForSingleObject(g_stop, INFINITE);
    RpcMgmtStopServerListening(nullptr);
    RpcMgmtWaitServerListen();
    RpcServerUnregisterIf(KestraneHost_v1_0_s_ifspec, nullptr, TRUE);
    return 0;
}
