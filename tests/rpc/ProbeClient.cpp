// kestrane-rpc-probe: a client process of its own for the caller-probe interface.
//
//   kestrane-rpc-probe <endpoint> execute <function-id> <request-json> [times=N]
//
// Connects over ncalrpc, makes one call (N the same calls with times=N) and prints what came back
// as name=value lines (UTF-8). Exit code: 0 when the call gave a status of 0, 1 when it was made
// but gave another status, 2 for a bad command line, 3 when the call failed.
#include "CallerProbe.h"
#include "rpc/EndpointBinding.h"
#include "rpc/RpcGuard.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr int kGood = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kCallFailed = 3;

void Print(const char* name, const wchar_t* text) {
    char utf8[4096] = "(null)";
    if (text != nullptr) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("%s=%s\n", name, utf8);
    if (text != nullptr) MIDL_user_free(const_cast<wchar_t*>(text));  // the stub's answer
}
void Print(const char* name, unsigned long value) { std::printf("%s=%lu\n", name, value); }

bool ParseNumber(const wchar_t* text, unsigned long* value) {
    wchar_t* end = nullptr;
    *value = std::wcstoul(text, &end, 0);
    return end != text && *end == L'\0';
}

int ProbeRequest(handle_t binding, long functionId, const wchar_t* request) {
    long result = -1;
    unsigned long status = 0;
    wchar_t* response = nullptr;
    const unsigned long exception =
        KestraneRpcGuarded([&] { result = ProbeExecute(binding, functionId, request, &status, &response); });
    Print("rpc", exception);
    Print("result", static_cast<unsigned long>(result));  // the server's own answer
    Print("response", response);
    Print("status", status);
    if (exception != 0 || result != 0) return kCallFailed;
    return status == 0 ? kGood : kRefused;
}

int Run(int argc, wchar_t** argv) {
    unsigned long times = 1;
    if (argc > 5 && std::wcsncmp(argv[argc - 1], L"times=", 6) == 0) {
        if (!ParseNumber(argv[argc - 1] + 6, &times) || times == 0) return kUsage;
        --argc;
    }
    unsigned long functionId = 0;
    if (argc != 5 || std::wcscmp(argv[2], L"execute") != 0 || !ParseNumber(argv[3], &functionId)) return kUsage;

    handle_t binding = nullptr;
    if (const unsigned long status = Kestrane::Host::BindToEndpoint(argv[1], &binding); status != RPC_S_OK) {
        Print("bind", status);
        return kCallFailed;
    }
    int outcome = kGood;
    for (unsigned long i = 0; i < times && outcome != kCallFailed; ++i)
        outcome = ProbeRequest(binding, static_cast<long>(functionId), argv[4]);
    RpcBindingFree(&binding);
    return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int code = Run(argc, argv);
    std::fflush(stdout);
    return code;
}
