// HKEY_CURRENT_USER during a real RPC call: the test serves the probe interface over
// ncalrpc in-process, and kestrane-rpc-probe.exe, a process of its own, calls it. The probe
// server fails a call whose thread still holds a token once the module returned: the module
// impersonates the client to compare users, and the rest of the call must run as the host.
// Under Wine every process runs as one user, so the hive alone cannot tell the caller from
// the host: the process id the runtime gives for a caller is checked where the host logs it
// (HostLogTest), a caller of another user over the emulation (CallerHiveTest), and the
// lookup outside any call, which finds no caller, by the soak test.
#ifdef _WIN32

#include "tests/RegistryFixture.h"
#include "tests/rpc/ProbeProcess.h"
#include "tests/rpc/ProbeServer.h"

using namespace KestraneTest;

TEST(CallerHiveRpc, ACheckDuringTheCallLooksInTheCallersHive) {
    LoadedService service;
    ProbeServer server(service.get());  // stops before the module it calls unloads
    ASSERT_EQ(server.Status(), RPC_S_OK);
    // The probe runs as this test's user: the key is in its hive.
    const std::string below = "Software\\QV\\KestraneTest\\RpcProbe-" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W(below).c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    const std::string request = "{\"keyPath\":" + Quote("HKEY_CURRENT_USER\\" + below) + "}";
    ProbeProcess probe({server.Endpoint(), L"execute", L"0", W(request)});
    DWORD exitCode = ~0u;
    EXPECT_TRUE(probe.Resume() && probe.Wait(60000, &exitCode)) << probe.Output();  // a minute means a hang
    DeleteTree(HKEY_CURRENT_USER, W(below));
    EXPECT_EQ(exitCode, 0u) << probe.Output();
    EXPECT_NE(probe.Output().find("response={\"result\":true}"), std::string::npos) << probe.Output();
}

#endif  // _WIN32
