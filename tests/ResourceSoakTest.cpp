// Many mixed calls must leave the process as they found it: no memory, no handles.
// The suite runs a short pass; `./dev.sh soak` runs 100 000 calls under Wine
// (KESTRANE_SOAK_CALLS sets the count) and prints the figures.
//
// Under Wine there is no handle count (GetProcessHandleCount reports 0), but Wine hands
// out the lowest free handle value, so a handle opened before and after the calls gets
// the same value unless something leaked one. Memory is the PagefileUsage of the
// process (its private bytes read 0 under Wine), measured after a warm-up so that the
// heap's first growth is not counted. Natively the emulation counts what is open, and
// LeakSanitizer checks the memory at exit.
#include "tests/RegistryFixture.h"

#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <psapi.h>
#else
#include "platform/native/Emulation.h"
#endif

using namespace KestraneTest;

namespace {

struct Snapshot {
    std::size_t memory = 0;     // bytes
    std::uintptr_t handle = 0;  // the value a fresh handle gets
};

Snapshot Take() {
    Snapshot snapshot;
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        snapshot.memory = counters.PagefileUsage;
    const HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    snapshot.handle = reinterpret_cast<std::uintptr_t>(probe);
    if (probe) CloseHandle(probe);
#else
    snapshot.handle = KestraneEmu::OpenKeyCount() + KestraneEmu::OpenHandleCount() + KestraneEmu::LocalAllocCount();
#endif
    return snapshot;
}

struct Call {
    int32_t id;
    std::string request;
    uint32_t status;
};

}  // namespace

TEST(Soak, MixedCallsLeaveMemoryAndHandlesFlat) {
    const char* configured = std::getenv("KESTRANE_SOAK_CALLS");
    const long calls = configured ? std::atol(configured) : 3000;
    ScratchKey key("Soak");
    key.SetString("Text", "some text");
    key.SetValue("Blob", REG_BINARY, Bytes(100, 0x42));
    key.CreateKey("Child");
    const std::string path = key.Path();
    const std::string leaf = key.Path("Leaf");
    // Every command, its successes and its refusals, and the failures in between.
    const std::vector<Call> mix = {
        {0, Req::Key(path), Svc::Success},
        {2, Req::Key(leaf), Svc::Success},
        {16, Req::Write(leaf, "M", REG_MULTI_SZ, R"(["a","b"])"), Svc::Success},
        {16, Req::Write(leaf, "B", REG_BINARY, R"("AAEC")"), Svc::Success},
        {4, Req::Value(path, "Blob"), Svc::Success},
        {8, "{\"keyPath\":" + Quote(path) + ",\"expandString\":true}", Svc::Success},
        {128, Req::Key(path), Svc::Success},
        {64, Req::Value(leaf, "M"), Svc::Success},
        {64, Req::Value(leaf, "B"), Svc::Success},
        {32, Req::Key(leaf), Svc::Success},
        {4, Req::Value(path, "Missing"), Svc::GeneralFailure},
        {8, Req::Key("HKEY_LOCAL_MACHINE\\SAM"), Svc::NotWhiteListed},
        {16, Req::Write(leaf, "X", REG_DWORD_BIG_ENDIAN, "1"), Svc::InvalidDataType},
        // Outside an RPC call there is no caller, so no hive: the lookup fails each time.
        {0, Req::Key("HKEY_CURRENT_USER\\SOFTWARE\\QV"), Svc::RootKeyNotFound},
        {4, "[[[[{\"keyPath\":", Svc::InvalidJson},
        {256, "{}", Svc::UnsupportedFunction},
    };
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    long wrong = 0;
    std::string firstWrong;
    auto run = [&](long count) {
        for (long i = 0; i < count; ++i) {
            const Call& call = mix[static_cast<std::size_t>(i) % mix.size()];
            const Reply reply = Execute(service.get(), call.id, call.request);
            if (reply.status != call.status && wrong++ == 0)
                firstWrong = call.request + " -> " + std::to_string(reply.status);
        }
    };
    run(static_cast<long>(mix.size()) * 50);  // warm-up: the heap and the registry settle
    const Snapshot before = Take();
    run(calls);
    const Snapshot after = Take();

    EXPECT_EQ(wrong, 0) << firstWrong;
    std::cout << "soak: " << calls << " calls; memory " << before.memory << " -> " << after.memory
              << " bytes; probe handle " << before.handle << " -> " << after.handle << std::endl;
    EXPECT_EQ(after.handle, before.handle);
    // A leak of a few hundred bytes a call shows even in the short pass.
    EXPECT_LT(after.memory, before.memory + (1u << 20));
}
