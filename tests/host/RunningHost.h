// kestrane-host as it is deployed, a process of its own: a test fixture starts one on an
// endpoint of the test's own, logging to a file of its own, answering once SetUp is done,
// and stops it through its interface in TearDown (one that will not stop is ended).
#pragma once

#include "tests/rpc/ProbeProcess.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <memory>
#include <string>
#include <vector>

namespace KestraneTest {

// How long a host or client process may take to do what it was asked; a minute means a hang.
constexpr DWORD kProcessTimeoutMs = 60000;

// kestrane-host.exe with these arguments, once a session opens on endpoint ("" asks the
// endpoint mapper); a test failure is recorded when it never answers.
std::unique_ptr<ProbeProcess> StartHost(const std::vector<std::wstring>& arguments, const std::wstring& endpoint);

PROCESS_MEMORY_COUNTERS MemoryOf(DWORD pid);

class RunningHost : public ::testing::Test {
protected:
    void SetUp() override;
    // Stops the host through its interface: it must end with exit code 0, saying so. A test
    // may stop it itself; TearDown stops it otherwise.
    void StopHost();
    void TearDown() override;

    std::wstring endpoint_;
    std::wstring log_;  // where the host logs
    std::unique_ptr<ProbeProcess> host_;
};

}  // namespace KestraneTest
