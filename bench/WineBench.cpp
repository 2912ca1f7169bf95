// kestrane-bench.exe: ExecuteCommand of the real KestraneService.dll against the raw
// registry sequence each command makes, alternating, timed with QueryPerformanceCounter.
//
//   kestrane-bench.exe [--reps N] [--largest N]   one TSV row per case on stdout
//   kestrane-bench.exe --trace [--largest N]      one call of each between marker key
//                                                 opens, for counting wineserver requests
//   kestrane-bench.exe --log-cost [--reps N]      an id 4 call that logs a line against
//                                                 one that logs none (run it with the log on),
//                                                 driven directly and inside an RPC call
//   --cpu N                                       times each case on a thread held to CPU N
//                                                 (with the wineserver held there too, a call's
//                                                 round trips never wait for another CPU to wake;
//                                                 the library's log writer stays free to run
//                                                 on the other, as it would beside a real host)
//
// Rows: row, case, module median us, raw median us, ratio, repetitions.
#include "BenchCall.h"
#include "access/CallerProcessId.h"
#include "access/LogCallerOfCall.h"
#include "bench/BenchCases.h"
#include "rpc/RpcGuard.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

using namespace KestraneBench;

namespace {

Svc::QVService* g_service = nullptr;
std::vector<Case> g_cases;
int g_cpu = -1;

// As kestrane-host serves a session: its client learned once, when the session opened, and
// named to the log around each request.
Qv::Corvane::Logging::LogCaller g_sessionCaller{};
bool g_naming = false;

bool RunServed(const Case& c) {
    if (!g_naming) return RunModule(g_service, c);
    Qv::Corvane::Logging::SetLogCallerOfThisThread(&g_sessionCaller);
    const bool ok = RunModule(g_service, c);
    Qv::Corvane::Logging::SetLogCallerOfThisThread(nullptr);
    return ok;
}

double Median(std::vector<double> samples) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const std::size_t mid = samples.size() / 2;
    return samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
}

// A key open that fails, named so that the wineserver trace shows where a call starts and ends.
void Marker(const Case& c, const char* what) {
    std::string name = "KestraneBenchMarker\\" + c.name + "\\" + what;
    std::replace(name.begin(), name.end(), ' ', '+');  // spaces would end the name in the trace
    const std::wstring wide(name.begin(), name.end());
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) RegCloseKey(key);
}

// Both sides run in turn, each first every other round, so drift in the machine's
// speed falls on both alike.
bool Measure(const Case& c, long reps, bool traced, double* moduleUs, double* rawUs) {
    if (g_cpu >= 0) SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << g_cpu);
    // Warm-up: first-use work (the DLL's statics, Wine's caches) is not part of a call.
    for (int i = 0; i < 2; ++i) {
        if (!RunServed(c)) return false;
        c.raw(c);
    }
    if (traced) {
        Marker(c, "module-begin");
        RunServed(c);
        Marker(c, "module-end");
        Marker(c, "raw-begin");
        c.raw(c);
        Marker(c, "raw-end");
        *moduleUs = *rawUs = 0;
        return true;
    }
    LARGE_INTEGER frequency, t0, t1, t2;
    QueryPerformanceFrequency(&frequency);
    const double toUs = 1e6 / static_cast<double>(frequency.QuadPart);
    std::vector<double> module, raw;
    for (long i = 0; i < reps; ++i) {
        const bool moduleFirst = i % 2 == 0;
        QueryPerformanceCounter(&t0);
        if (moduleFirst) RunServed(c); else c.raw(c);
        QueryPerformanceCounter(&t1);
        if (moduleFirst) c.raw(c); else RunServed(c);
        QueryPerformanceCounter(&t2);
        const double first = static_cast<double>(t1.QuadPart - t0.QuadPart) * toUs;
        const double second = static_cast<double>(t2.QuadPart - t1.QuadPart) * toUs;
        module.push_back(moduleFirst ? first : second);
        raw.push_back(moduleFirst ? second : first);
    }
    *moduleUs = Median(module);
    *rawUs = Median(raw);
    return true;
}

class BenchServer {
public:
    BenchServer() : endpoint_(L"kestrane-bench-" + std::to_wstring(GetCurrentProcessId())) {
        auto* protseq = reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc"));
        status_ = RpcServerUseProtseqEpW(protseq, RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
                                         reinterpret_cast<RPC_WSTR>(endpoint_.data()), nullptr);
        if (status_ == RPC_S_OK) status_ = RpcServerRegisterIf(s_KestraneBenchCall_v1_0_s_ifspec, nullptr, nullptr);
        if (status_ == RPC_S_OK) status_ = RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, TRUE);
        if (status_ != RPC_S_OK) return;
        RPC_WSTR text = nullptr;
        status_ = RpcStringBindingComposeW(nullptr, protseq, nullptr, reinterpret_cast<RPC_WSTR>(endpoint_.data()),
                                           nullptr, &text);
        if (status_ == RPC_S_OK) status_ = RpcBindingFromStringBindingW(text, &binding_);
        if (text) RpcStringFreeW(&text);
    }
    ~BenchServer() {
        if (binding_) RpcBindingFree(&binding_);
        RpcMgmtStopServerListening(nullptr);
        RpcServerUnregisterIf(s_KestraneBenchCall_v1_0_s_ifspec, nullptr, TRUE);
    }
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;
    RPC_STATUS Status() const { return status_; }
    handle_t Binding() const { return binding_; }

private:
    std::wstring endpoint_;
    RPC_STATUS status_ = RPC_S_OK;
    handle_t binding_ = nullptr;
};

// The log's cost: the same read with and without the one warning line a request without
// "expandString" writes; the "raw" side of this case is the module's unlogged call.
Case g_unlogged;
void RunUnlogged(const Case&) { RunServed(g_unlogged); }

std::vector<Case> LogCostCases() {
    std::vector<Case> cases = MakeCases(1);
    Case logged = cases.at(1);  // id 4 read REG_SZ, which leaves "expandString" out
    g_unlogged = logged;
    g_unlogged.request.insert(g_unlogged.request.size() - 1, WIDE(",\"expandString\":false"));
    logged.name = "id 4 logging one line";
    logged.raw = RunUnlogged;
    // Served for a client, a line is charged to that client's share: the RPC runtime is asked
    // which process made the call, once per request that logs.
    Case inCall = logged;
    inCall.name = "id 4 logging one line, in an RPC call";
    inCall.inCall = true;
    Case named = inCall;
    named.name = "id 4 logging one line, in an RPC call, the host naming the client";
    named.hostNamesCaller = true;
    return {logged, inCall, named};
}

long RepsFor(const Case& c, long reps) {
    // The listing cases cost about one round trip per entry: fewer rounds keep the run short.
    const long scaled = c.count > 10 ? reps / static_cast<long>(c.count / 10) : reps;
    return std::max(scaled, std::min(reps, 5L));
}

}  // namespace

LONG s_RunCaseInCall(handle_t, LONG caseIndex, LONG reps, LONG traced, double* moduleUs, double* rawUs) {
    *moduleUs = *rawUs = 0;
    if (caseIndex < 0 || static_cast<std::size_t>(caseIndex) >= g_cases.size()) return 1;
    namespace Kestrane = Qv::Corvane::Server::Services::Kestrane;
    const Case& c = g_cases[static_cast<std::size_t>(caseIndex)];
    DWORD pid = 0;
    g_naming = c.hostNamesCaller && Kestrane::InquireCallerProcessId(&pid) == RPC_S_OK;
    if (g_naming) Kestrane::DescribeLogCaller(pid, &g_sessionCaller);
    const bool measured = Measure(c, reps, traced != 0, moduleUs, rawUs);
    g_naming = false;
    return measured ? 0 : 2;
}

int wmain(int argc, wchar_t** argv) {
    long reps = 1000;
    std::size_t largest = 1000;
    bool traced = false;
    bool logCost = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--trace") traced = true;
        else if (arg == L"--log-cost") logCost = true;
        else if (arg == L"--reps" && i + 1 < argc) reps = std::wcstol(argv[++i], nullptr, 10);
        else if (arg == L"--cpu" && i + 1 < argc) g_cpu = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        else if (arg == L"--largest" && i + 1 < argc) largest = std::wcstoul(argv[++i], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: kestrane-bench.exe [--trace | --log-cost] [--reps N] [--largest N] [--cpu N]\n");
            return 2;
        }
    }

    const HMODULE module = LoadLibraryW(L"KestraneService.dll");
    using Factory = Svc::QVService* (*)();
    const auto factory =
        module ? reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module, "QVCreateService")))
               : nullptr;
    if (!factory) {
        std::fprintf(stderr, "cannot load KestraneService.dll (%lu)\n", GetLastError());
        return 1;
    }
    g_service = factory();
    if (!CreateKeys(largest)) {
        std::fprintf(stderr, "cannot create the benchmark keys\n");
        return 1;
    }
    g_cases = logCost ? LogCostCases() : MakeCases(largest);
    int failed = 0;
    {
        BenchServer server;
        for (std::size_t i = 0; i < g_cases.size(); ++i) {
            const Case& c = g_cases[i];
            const long n = RepsFor(c, reps);
            double moduleUs = 0, rawUs = 0;
            bool ok = false;
            if (c.currentUser || c.inCall) {
                long result = -1;
                const unsigned long exception = server.Status() != RPC_S_OK ? server.Status() : KestraneRpcGuarded([&] {
                    result = RunCaseInCall(server.Binding(), static_cast<LONG>(i), n, traced, &moduleUs, &rawUs);
                });
                ok = exception == 0 && result == 0;
                if (exception) std::fprintf(stderr, "%s: RPC call failed with %lu\n", c.name.c_str(), exception);
            } else {
                ok = Measure(c, n, traced, &moduleUs, &rawUs);
            }
            if (!ok) {
                std::fprintf(stderr, "%s: the module call failed\n", c.name.c_str());
                ++failed;
                continue;
            }
            std::printf("row\t%s\t%.2f\t%.2f\t%.3f\t%ld\n", c.name.c_str(), moduleUs, rawUs,
                        rawUs > 0 ? moduleUs / rawUs : 0.0, traced ? 1L : n);
            std::fflush(stdout);
        }
    }
    DeleteKeys();
    g_service->DeletingDestructor(Svc::kDeleteStorage);
    return failed ? 1 : 0;
}
