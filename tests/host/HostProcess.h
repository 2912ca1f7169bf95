// A kestrane-host.exe of the test's own, started and answering, and what the system tells
// of its memory: the fixture every end-to-end test of the host starts from.
#pragma once

#include "tests/rpc/ProbeProcess.h"

#include <windows.h>

#include <psapi.h>

#include <memory>
#include <string>
#include <vector>

namespace KestraneTest {

// kestrane-host.exe with these arguments, once a session opens on endpoint ("" asks the
// endpoint mapper); a test failure is recorded when it never answers.
std::unique_ptr<ProbeProcess> StartHost(const std::vector<std::wstring>& arguments, const std::wstring& endpoint);

// The working set, now and at its peak, of the process with this id.
PROCESS_MEMORY_COUNTERS MemoryOf(DWORD pid);

}  // namespace KestraneTest
