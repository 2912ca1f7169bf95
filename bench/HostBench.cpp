// kestrane-host-bench.exe: a client's id 4 read through kestrane-host (the module loaded
// in a service host, a session per client, as kestrane-cli --repeat calls it) against
// the same call to kestrane-bare-host (the same round trip and sizes, the raw registry
// sequence and no module), alternating call by call, with 1 and 8 client threads.
//
//   kestrane-host-bench.exe [--reps N] [--runs R]
//
// N calls per side for each client count (default 2000), in each of R runs (default 5)
// with both servers started afresh: where the scheduler puts the two server processes
// on a small machine holds for a whole run and moves one side's median by more than
// the module costs, so one run's ratio says little and the median over runs more.
//
// Rows: run, clients, bare median us, host median us, ratio (one per run and client
// count); then host, clients, the medians of those three over the runs, calls per side
// and run, the lowest and the highest ratio.
#include "bench/BenchCases.h"
#include "client/kestrane_client.hpp"
#include "tests/rpc/ProbeProcess.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Kestrane::Client::Answer;
using HostSession = Kestrane::Client::ClientSession;
using KestraneTest::ProbeProcess;

constexpr DWORD kStopTimeoutMs = 60000;
constexpr int kWarmUpCalls = 20;
const wchar_t* const kSubKey = L"SOFTWARE\\QV\\KestraneBench\\HostEndToEnd";
const wchar_t* const kRequest =
    L"{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\QV\\\\KestraneBench\\\\HostEndToEnd\","
    L"\"regKeyValueName\":\"Text\"}";

double Micros(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const double perSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / perSecond;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

bool Answered(const Answer& answer) { return answer.Delivered() && answer.status == 0 && answer.hasResponse; }

// A server process of this folder, listening once a session opens on its endpoint.
std::unique_ptr<ProbeProcess> StartServer(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                          const std::wstring& endpoint) {
    auto server = std::make_unique<ProbeProcess>(arguments, program);
    if (server->StartError() != 0 || !server->Resume()) return nullptr;
    for (int attempt = 0; attempt < 400; ++attempt) {
        if (HostSession(endpoint, L"bench-probe").Open()) return server;
        Sleep(25);
    }
    std::fprintf(stderr, "%ls never listened: %s\n", program.c_str(), server->Output().c_str());
    return nullptr;
}

void Stop(const std::wstring& endpoint, ProbeProcess& server) {
    KestraneStopHost(HostSession(endpoint, L"bench-stopper").get());
    DWORD code = 0;
    server.Wait(kStopTimeoutMs, &code);
}

struct Timings {
    std::vector<double> host;
    std::vector<double> bare;
    int failures = 0;
};

// One client: its own session with each server, the two called in turn, the one that
// goes first alternating so neither always finds the caches the other warmed.
void RunClient(const std::wstring& hostEndpoint, const std::wstring& bareEndpoint, int index, long calls,
               Timings* all, std::mutex* lock) {
    const std::wstring id = L"bench-client-" + std::to_wstring(index);
    HostSession host(hostEndpoint, id);
    HostSession bare(bareEndpoint, id);
    Timings mine;
    if (!host.Open() || !bare.Open()) {
        std::fprintf(stderr, "client %d: no session (host %lu, bare %lu)\n", index, host.OpenError(),
                     bare.OpenError());
        mine.failures = 1;
    }
    for (int i = 0; i < kWarmUpCalls && mine.failures == 0; ++i) {
        host.Execute(4, kRequest);
        bare.Execute(4, kRequest);
    }
    for (long i = 0; i < calls && mine.failures == 0; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool hostTurn = (turn == 0) == (i % 2 == 0);
            LARGE_INTEGER from, to;
            QueryPerformanceCounter(&from);
            const Answer answer = (hostTurn ? host : bare).Execute(4, kRequest);
            QueryPerformanceCounter(&to);
            if (!Answered(answer) && mine.failures++ == 0)
                std::fprintf(stderr, "client %d: %s call failed (result %d, error %lu, status 0x%lx)\n", index,
                             hostTurn ? "host" : "bare", answer.result, answer.error, answer.status);
            (hostTurn ? mine.host : mine.bare).push_back(Micros(from, to));
        }
    }
    const std::lock_guard<std::mutex> guard(*lock);
    all->host.insert(all->host.end(), mine.host.begin(), mine.host.end());
    all->bare.insert(all->bare.end(), mine.bare.begin(), mine.bare.end());
    all->failures += mine.failures;
}

struct RunResult {
    double bare = 0;
    double host = 0;
    double ratio = 0;
    std::size_t calls = 0;
};

bool RunClients(const std::wstring& hostEndpoint, const std::wstring& bareEndpoint, int clients, long reps,
                RunResult* result) {
    const long perClient = std::max(1L, reps / clients);
    Timings all;
    std::mutex lock;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back(RunClient, hostEndpoint, bareEndpoint, c, perClient, &all, &lock);
    for (std::thread& thread : threads) thread.join();
    if (all.failures != 0) {
        std::fprintf(stderr, "%d clients: %d calls failed\n", clients, all.failures);
        return false;
    }
    result->bare = Median(all.bare);
    result->host = Median(all.host);
    result->ratio = result->bare > 0 ? result->host / result->bare : 0.0;
    result->calls = all.host.size();
    std::printf("run\t%d\t%.2f\t%.2f\t%.3f\n", clients, result->bare, result->host, result->ratio);
    std::fflush(stdout);
    return true;
}

constexpr int kClientCounts[] = {1, 8};

// One run: both servers started, every client count measured, both stopped.
int Bench(long run, long reps, std::vector<RunResult>* byClients) {
    // Endpoints of their own for each run: the client runtime keeps what it knew of
    // the last run's servers.
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(run);
    const std::wstring hostEndpoint = L"kestrane-bench-host-" + suffix;
    const std::wstring bareEndpoint = L"kestrane-bench-bare-" + suffix;

    const auto host = StartServer(L"kestrane-host.exe", {L"run", L"--endpoint", hostEndpoint, L"--allow-stop"},
                                  hostEndpoint);
    if (!host) return 1;
    // The bare host answers exactly what the host answered, so both carry the same bytes.
    const Answer first = HostSession(hostEndpoint, L"bench-first").Execute(4, kRequest);
    if (!Answered(first)) {
        std::fprintf(stderr, "kestrane-host did not answer the request (result %d, error %lu, status 0x%lx)\n",
                     first.result, first.error, first.status);
        Stop(hostEndpoint, *host);
        return 1;
    }
    SetEnvironmentVariableW(L"KESTRANE_BARE_RESPONSE", first.response.c_str());
    const auto bare = StartServer(L"kestrane-bare-host.exe", {bareEndpoint, kSubKey, L"Text"}, bareEndpoint);
    int result = bare ? 0 : 1;
    if (bare && HostSession(bareEndpoint, L"bench-first").Execute(4, kRequest).response != first.response) {
        std::fprintf(stderr, "kestrane-bare-host answers other bytes than kestrane-host\n");
        result = 1;
    }
    for (std::size_t i = 0; i < std::size(kClientCounts); ++i) {
        RunResult run;
        if (result == 0 && !RunClients(hostEndpoint, bareEndpoint, kClientCounts[i], reps, &run)) result = 1;
        byClients[i].push_back(run);
    }
    if (bare) Stop(bareEndpoint, *bare);
    Stop(hostEndpoint, *host);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    long reps = 2000;
    long runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--reps" && i + 1 < argc) {
            reps = std::wcstol(argv[++i], nullptr, 10);
        } else if (arg == L"--runs" && i + 1 < argc) {
            runs = std::wcstol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: kestrane-host-bench.exe [--reps N] [--runs R]\n");
            return 2;
        }
    }
    if (KestraneBench::CreateWithValues(HKEY_LOCAL_MACHINE, kSubKey, 0, 0) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot create the benchmark key\n");
        return 1;
    }
    std::vector<RunResult> byClients[std::size(kClientCounts)];
    int result = 0;
    for (long run = 0; run < runs && result == 0; ++run) result = Bench(run, reps, byClients);
    KestraneBench::DeleteTree(HKEY_LOCAL_MACHINE, kSubKey);
    if (result != 0) return result;
    for (std::size_t i = 0; i < std::size(kClientCounts); ++i) {
        std::vector<double> bare, host, ratio;
        for (const RunResult& run : byClients[i]) {
            bare.push_back(run.bare);
            host.push_back(run.host);
            ratio.push_back(run.ratio);
        }
        std::printf("host\t%d\t%.2f\t%.2f\t%.3f\t%zu\t%.3f\t%.3f\n", kClientCounts[i], Median(bare), Median(host),
                    Median(ratio), byClients[i].front().calls, *std::min_element(ratio.begin(), ratio.end()),
                    *std::max_element(ratio.begin(), ratio.end()));
    }
    return 0;
}
