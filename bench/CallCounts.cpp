// kestrane-bench-calls: instructions and heap allocations per call, natively.
//
//   kestrane-bench-calls [N]
//
// For each case (the module's call, its raw registry sequence, and the whitelist check
// alone) runs N calls with callgrind's counters zeroed before and dumped after, named
// after the case, so `valgrind --tool=callgrind` gives exact instructions per call.
// Outside valgrind it counts malloc/calloc/realloc calls over the same N calls.
// Rows: calls, case, allocations per call (n/a under a sanitizer or valgrind).
#include "access/KestraneServiceWhiteList.h"
#include "bench/BenchCases.h"
#include "platform/native/Emulation.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name) (void)(name)
#define RUNNING_ON_VALGRIND 0
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace KestraneBench;

namespace {
std::atomic<long> g_allocations{0};
std::atomic<bool> g_counting{false};
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCounting = false;  // the sanitizer owns malloc
#else
constexpr bool kCounting = true;

// glibc lets a program's own malloc stand in for its own; these only count and forward.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* malloc(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
#endif

namespace {

void Count(const std::string& name, long calls, const std::function<void()>& call) {
    for (int i = 0; i < 3; ++i) call();  // first-use work is not part of a call
    std::string label;
    for (char c : name)
        if (c != ',') label += c == ' ' ? '_' : c;

    CALLGRIND_ZERO_STATS;
    for (long i = 0; i < calls; ++i) call();
    CALLGRIND_DUMP_STATS_AT(label.c_str());

    double perCall = -1;
    if (kCounting && !RUNNING_ON_VALGRIND) {
        g_allocations = 0;
        g_counting = true;
        for (long i = 0; i < calls; ++i) call();
        g_counting = false;
        perCall = static_cast<double>(g_allocations.load()) / static_cast<double>(calls);
    }
    if (perCall < 0) std::printf("calls\t%s\tn/a\n", label.c_str());
    else std::printf("calls\t%s\t%.2f\n", label.c_str(), perCall);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100;
    const std::size_t largest = 100;  // instructions grow with the key; 100 entries show the slope
    KestraneEmu::ResetRegistry();
    if (!CreateKeys(largest)) {
        std::fprintf(stderr, "cannot create the benchmark keys\n");
        return 1;
    }
    KestraneEmu::SetRpcClientPid(GetCurrentProcessId());
    Svc::QVService* service = QVCreateService();
    const std::vector<Case> cases = MakeCases(largest);
    bool failed = false;
    for (const Case& c : cases) {
        if (!RunModule(service, c)) {
            std::fprintf(stderr, "%s: the module call failed\n", c.name.c_str());
            failed = true;
            continue;
        }
        Count(c.name + " module", calls, [&] { RunModule(service, c); });
        Count(c.name + " raw", calls, [&] { c.raw(c); });
    }
    using Svc::WhiteListAccessMode;
    using Svc::Kestrane::KestraneServiceWhiteList;
    const WCHAR* allowed = WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\KestraneBench\\Small");
    const WCHAR* refused = WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Vendor\\Key");
    volatile bool sink = false;
    if (!KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, allowed, WIDE("bench")) ||
        KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, refused, WIDE("bench"))) {
        std::fprintf(stderr, "whitelist: unexpected answer\n");
        failed = true;
    }
    Count("whitelist allowed", calls, [&] {
        sink = KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, allowed, WIDE("bench"));
    });
    Count("whitelist refused", calls, [&] {
        sink = KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, refused, WIDE("bench"));
    });
    (void)sink;
    service->DeletingDestructor(Svc::kDeleteStorage);
    return failed ? 1 : 0;
}
