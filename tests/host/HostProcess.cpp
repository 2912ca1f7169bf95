#include "tests/host/HostProcess.h"

#include "client/kestrane_client.hpp"

#include <gtest/gtest.h>

namespace KestraneTest {

std::unique_ptr<ProbeProcess> StartHost(const std::vector<std::wstring>& arguments, const std::wstring& endpoint) {
    auto host = std::make_unique<ProbeProcess>(arguments, L"kestrane-host.exe");
    if (host->StartError() == 0 && host->Resume()) {
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (Kestrane::Client::ClientSession(endpoint, L"probe").Open()) return host;
            Sleep(50);
        }
    }
    ADD_FAILURE() << "kestrane-host never listened: " << host->Output();
    return host;
}

PROCESS_MEMORY_COUNTERS MemoryOf(DWORD pid) {
    PROCESS_MEMORY_COUNTERS counters = {};
    const Qv::Corvane::Server::Services::Kestrane::ScopedHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    EXPECT_TRUE(process.IsValid() && GetProcessMemoryInfo(process.Get(), &counters, sizeof counters));
    return counters;
}

}  // namespace KestraneTest
