// The host's session bounds and its status check, in-process against the real module
// and the system's own access check.
#include "rpc/ProcessAccount.h"
#include "host/CallBound.h"
#include "host/RpcHost.h"
#include "host/SessionTable.h"
#include "host/StatusAccess.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using Kestrane::Host::Session;
using Kestrane::Host::SessionTable;

TEST(HostBounds, SessionsAreBoundedPerProcessAndInAll) {
    KestraneTest::LoadedService service;
    SessionTable table(service.get());
    long error = -1;
    std::vector<Session*> opened;
    // 32 processes of 32 sessions fill the host; any more is refused once full, and closing
    // one frees its place. (A 33rd of one process is refused end to end: SessionFloodStopsAtTheBound.)
    for (DWORD pid = 1; pid <= 32; ++pid) {
        for (int i = 0; i < 32; ++i) {
            opened.push_back(table.Open(std::wstring(100, L'c').c_str(), pid, &error));
            ASSERT_NE(opened.back(), nullptr) << pid << " " << i;
        }
    }
    EXPECT_EQ(opened[0]->clientId, std::wstring(64, L'c'));
    EXPECT_EQ(table.Open(L"x", 33, &error), nullptr);
    EXPECT_EQ(error, ERROR_TOO_MANY_SESS);
    EXPECT_TRUE(table.Close(opened[5]));
    Session* again = table.Open(L"x", 33, &error);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(table.Count(), 1024u);
}

// Calls arriving together take the host's places once each: never more than the bound
// run, the call over it is refused, and a place given back is taken again.
TEST(HostBounds, CallsAtOnceAreBoundedByTheHostsOwnCount) {
    Kestrane::Host::CallBound bound(Kestrane::Host::kMaxConcurrentCalls);
    std::atomic<unsigned> granted{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (unsigned i = 0; i < 2 * Kestrane::Host::kMaxConcurrentCalls; ++i) {
        callers.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            if (bound.TryTake()) ++granted;
        });
    }
    go = true;
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(granted.load(), Kestrane::Host::kMaxConcurrentCalls);
    EXPECT_EQ(bound.Running(), Kestrane::Host::kMaxConcurrentCalls);
    EXPECT_FALSE(bound.TryTake());
    bound.Release();
    EXPECT_TRUE(bound.TryTake());
    EXPECT_FALSE(bound.TryTake());
}

// A token of the host's own account may; an administrator may; the same token with the
// administrators' group made deny-only, when the host runs as another account, may not.
// (Wine does not make a restricted token's user SID deny-only, so the case of the host's
// own user restricted cannot be shown there.)
TEST(HostBounds, HostStatusIsForAdministratorsAndTheHostsAccount) {
    HANDLE process = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
    HANDLE identify = nullptr;
    ASSERT_TRUE(DuplicateToken(process, SecurityIdentification, &identify));
    const std::wstring own = Kestrane::Host::ProcessAccount(GetCurrentProcess());
    EXPECT_TRUE(Kestrane::Host::TokenMayReadHostStatus(identify, own));
    BOOL admin = FALSE;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize));
    ASSERT_TRUE(CheckTokenMembership(identify, admins, &admin));
    EXPECT_EQ(Kestrane::Host::TokenMayReadHostStatus(identify, L"S-1-5-18"), admin != FALSE);

    SID_AND_ATTRIBUTES disabled[] = {{admins, 0}};
    HANDLE restricted = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(process, 0, 1, disabled, 0, nullptr, 0, nullptr, &restricted));
    HANDLE restrictedIdentify = nullptr;
    ASSERT_TRUE(DuplicateToken(restricted, SecurityIdentification, &restrictedIdentify));
    EXPECT_FALSE(Kestrane::Host::TokenMayReadHostStatus(restrictedIdentify, L"S-1-5-18"));
    for (HANDLE handle : {process, identify, restricted, restrictedIdentify}) CloseHandle(handle);
}

}  // namespace
