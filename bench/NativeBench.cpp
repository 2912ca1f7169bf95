// kestrane_bench: ExecuteCommand against the raw registry sequence of each command,
// natively over the Win32 emulation, with Google Benchmark. Run it with
// --benchmark_enable_random_interleaving=true and repetitions so the two sides of a
// case alternate in one run; KESTRANE_BENCH_LARGEST bounds the listing keys' size.
#include "bench/BenchCases.h"
#include "platform/native/Emulation.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

using namespace KestraneBench;

namespace {

Svc::QVService* g_service = nullptr;

std::string Label(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == ',') continue;
        out += c == ' ' ? '_' : c;
    }
    return out;
}

void Module(benchmark::State& state, const Case* c) {
    // The current-user case needs a caller; the others ignore it.
    KestraneEmu::SetRpcClientPid(GetCurrentProcessId());
    for (auto _ : state)
        if (!RunModule(g_service, *c)) state.SkipWithError("the module call failed");
}

void Raw(benchmark::State& state, const Case* c) {
    KestraneEmu::SetRpcClientPid(GetCurrentProcessId());
    for (auto _ : state) c->raw(*c);
}

}  // namespace

int main(int argc, char** argv) {
    const char* bound = std::getenv("KESTRANE_BENCH_LARGEST");
    const std::size_t largest = bound ? std::strtoul(bound, nullptr, 10) : 1000;
    KestraneEmu::ResetRegistry();
    if (!CreateKeys(largest)) {
        std::fprintf(stderr, "cannot create the benchmark keys\n");
        return 1;
    }
    g_service = QVCreateService();
    static const std::vector<Case> cases = MakeCases(largest);
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark((Label(c.name) + "/module").c_str(), Module, &c);
        benchmark::RegisterBenchmark((Label(c.name) + "/raw").c_str(), Raw, &c);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_service->DeletingDestructor(Svc::kDeleteStorage);
    return 0;
}
