// kestrane-rpc-probe: a client process of its own for the caller-probe interface.
//
//   kestrane-rpc-probe <endpoint> user <access-mask>
//   kestrane-rpc-probe <endpoint> execute <function-id> <request-json> [exempt] [times=N]
//
// Connects over ncalrpc, makes one call (N the same calls with times=N) and prints what came back
// as name=value lines (UTF-8). Exit code: 0 when the call gave a key or a status of 0, 1 when it
// was made but gave no key or another status, 2 for a bad command line, 3 when the call failed.
#include "CallerProbe.h"
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

std::string Utf8(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

void Print(const char* name, const std::string& value) { std::printf("%s=%s\n", name, value.c_str()); }
void Print(const char* name, unsigned long value) { Print(name, std::to_string(value)); }

bool ParseNumber(const wchar_t* text, unsigned long* value) {
    wchar_t* end = nullptr;
    *value = std::wcstoul(text, &end, 0);
    return end != text && *end == L'\0';
}

// Frees what the stub allocated for an [out, string] answer.
class StubText {
public:
    StubText() = default;
    ~StubText() {
        if (text_) MIDL_user_free(text_);
    }
    StubText(const StubText&) = delete;
    StubText& operator=(const StubText&) = delete;
    wchar_t** Put() { return &text_; }
    const wchar_t* Get() const { return text_; }

private:
    wchar_t* text_ = nullptr;
};

class Binding {
public:
    explicit Binding(const wchar_t* endpoint) {
        RPC_WSTR text = nullptr;
        status_ = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc")),
                                           nullptr, reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(endpoint)),
                                           nullptr, &text);
        if (status_ != RPC_S_OK) return;
        status_ = RpcBindingFromStringBindingW(text, &handle_);
        RpcStringFreeW(&text);
    }
    ~Binding() {
        if (handle_) RpcBindingFree(&handle_);
    }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;
    RPC_STATUS Status() const { return status_; }
    handle_t Get() const { return handle_; }

private:
    RPC_STATUS status_ = RPC_S_OK;
    handle_t handle_ = nullptr;
};

// The server's own answer, after the RPC runtime's.
int CallOutcome(unsigned long exception, long result) {
    Print("rpc", exception);
    if (exception != 0) return kCallFailed;
    Print("result", static_cast<unsigned long>(result));
    return result == 0 ? kGood : kCallFailed;
}

int ProbeUser(handle_t binding, unsigned long access) {
    long result = -1;
    long gotKey = 0;
    unsigned long inquiry = 0;
    unsigned long clientPid = 0;
    unsigned long threadTokenError = 0;
    StubText keyName;
    const unsigned long exception = KestraneRpcGuarded([&] {
        result = ProbeCurrentUser(binding, access, &gotKey, keyName.Put(), &inquiry, &clientPid, &threadTokenError);
    });
    const int outcome = CallOutcome(exception, result);
    if (outcome != kGood) return outcome;
    Print("gotKey", static_cast<unsigned long>(gotKey));
    Print("key", Utf8(keyName.Get()));
    Print("inquiry", inquiry);
    Print("clientPid", clientPid);
    Print("threadTokenError", threadTokenError);
    return gotKey ? kGood : kRefused;
}

int ProbeRequest(handle_t binding, long functionId, const wchar_t* request, long exempt) {
    long result = -1;
    unsigned long status = 0;
    StubText response;
    const unsigned long exception = KestraneRpcGuarded(
        [&] { result = ProbeExecute(binding, functionId, request, exempt, &status, response.Put()); });
    const int outcome = CallOutcome(exception, result);
    if (outcome != kGood) return outcome;
    Print("status", status);
    Print("response", Utf8(response.Get()));
    return status == 0 ? kGood : kRefused;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrane-rpc-probe <endpoint> user <access-mask>\n"
                 "       kestrane-rpc-probe <endpoint> execute <function-id> <request-json> [exempt] [times=N]\n");
    return kUsage;
}

int Run(int argc, wchar_t** argv) {
    unsigned long times = 1;
    if (argc > 5 && std::wcsncmp(argv[argc - 1], L"times=", 6) == 0) {
        if (!ParseNumber(argv[argc - 1] + 6, &times) || times == 0) return Usage();
        --argc;
    }
    if (argc < 4) return Usage();
    const std::wstring command = argv[2];
    unsigned long number = 0;
    if (!ParseNumber(argv[3], &number)) return Usage();
    const bool user = command == L"user" && argc == 4;
    const bool execute = command == L"execute" && (argc == 5 || (argc == 6 && std::wstring(argv[5]) == L"exempt"));
    if (!user && !execute) return Usage();

    Print("pid", GetCurrentProcessId());
    Binding binding(argv[1]);
    if (binding.Status() != RPC_S_OK) {
        Print("bind", binding.Status());
        return kCallFailed;
    }
    if (user) return ProbeUser(binding.Get(), number);
    int outcome = kGood;
    for (unsigned long i = 0; i < times && outcome != kCallFailed; ++i) {
        outcome = ProbeRequest(binding.Get(), static_cast<long>(number), argv[4], argc == 6 ? 1 : 0);
    }
    return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int code = Run(argc, argv);
    std::fflush(stdout);
    return code;
}
