#include "tests/host/RunningHost.h"

#include "client/kestrane_client.hpp"

namespace KestraneTest {

using Kestrane::Client::ClientSession;

std::unique_ptr<ProbeProcess> StartHost(const std::vector<std::wstring>& arguments, const std::wstring& endpoint) {
    auto host = std::make_unique<ProbeProcess>(arguments, L"kestrane-host.exe");
    const bool started = host->StartError() == 0 && host->Resume();
    for (int attempt = 0; started && attempt < 200; ++attempt) {
        if (ClientSession(endpoint, L"probe").Open()) return host;
        Sleep(50);
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

void RunningHost::SetUp() {
    endpoint_ = L"kestrane-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    wchar_t path[MAX_PATH];
    GetFullPathNameW((endpoint_ + L".log").c_str(), MAX_PATH, path, nullptr);
    log_ = path;
    SetEnvironmentVariableW(L"KESTRANE_LOG", log_.c_str());  // the host's alone
    host_ = StartHost({L"run", L"--endpoint", endpoint_, L"--allow-stop"}, endpoint_);
    SetEnvironmentVariableW(L"KESTRANE_LOG", L"off");
    ASSERT_FALSE(HasFailure());
}

void RunningHost::StopHost() {
    EXPECT_EQ(KestraneStopHost(ClientSession(endpoint_, L"stopper").get()), KESTRANE_OK);
    DWORD code = 0;
    EXPECT_TRUE(host_->Wait(kProcessTimeoutMs, &code)) << "host did not stop";
    EXPECT_EQ(code, 0u) << host_->Output();
    EXPECT_NE(host_->Output().find("kestrane-host: stopped"), std::string::npos) << host_->Output();
    host_.reset();
}

void RunningHost::TearDown() {
    if (host_) StopHost();
    DeleteFileW(log_.c_str());
}

}  // namespace KestraneTest
