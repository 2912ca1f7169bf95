// The native emulation's test controls: fault injection, access denials, the RPC
// caller, and the counters tests use to find leaks. (Emulated processes, tokens and
// SIDs are exercised through the caller-hive lookup in CallerHiveTest.)
#ifndef _WIN32
#include "TestSupport.h"
#include "platform/native/Emulation.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using KestraneTest::W;

class EmulationControls : public ::testing::Test {
protected:
    void SetUp() override { KestraneEmu::ResetRegistry(); }
    void TearDown() override {
        KestraneEmu::ResetRegistry();
        KestraneEmu::SetRpcClientPid(0);
    }
};

TEST_F(EmulationControls, FaultsHitTheNthCallOnly) {
    KestraneEmu::FailCall("RegOpenKeyExW", 2, ERROR_ACCESS_DENIED);
    KestraneEmu::FailCall("RegSetValueExW", 1, 1234);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software").c_str(), 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, W("V").c_str(), 0, REG_BINARY, nullptr, 0), 1234);

    // BOOL calls return FALSE with the error as last error; OpenProcess and malloc return null.
    KestraneEmu::FailCall("CryptBinaryToStringW", 1, 77);
    DWORD length = 0;
    EXPECT_FALSE(CryptBinaryToStringW(reinterpret_cast<const BYTE*>("a"), 1, CRYPT_STRING_BASE64, nullptr, &length));
    EXPECT_EQ(GetLastError(), 77u);
    KestraneEmu::FailCall("OpenProcess", 1, 5);
    EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    KestraneEmu::FailCall("malloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(PlatformMalloc(16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    void* block = PlatformMalloc(16);
    EXPECT_NE(block, nullptr);
    std::free(block);
    KestraneEmu::FailCall("I_RpcBindingInqLocalClientPID", 1, 1702);
    ULONG pid = 0;
    EXPECT_EQ(I_RpcBindingInqLocalClientPID(nullptr, &pid), 1702);

    // Cleared explicitly and by ResetRegistry.
    KestraneEmu::FailCall("RegDeleteKeyW", 1, 5);
    KestraneEmu::ClearFaults();
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("Nope").c_str()), ERROR_FILE_NOT_FOUND);
    KestraneEmu::FailCall("RegDeleteKeyW", 1, 5);
    KestraneEmu::ResetRegistry();
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("Nope").c_str()), ERROR_FILE_NOT_FOUND);
}

TEST_F(EmulationControls, AFaultFiresOnceAcrossThreads) {
    KestraneEmu::FailCall("RegQueryValueExW", 150, 99);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 100; ++i) {
                DWORD size = 0;
                if (RegQueryValueExW(HKEY_LOCAL_MACHINE, W("Nope").c_str(), nullptr, nullptr, nullptr, &size) == 99)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 1);
}

TEST_F(EmulationControls, DeniedKeysRefuseOpensCreatesAndDeletes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\QV\\Locked").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, W("V").c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>("a"), 1),
              ERROR_SUCCESS);
    RegCloseKey(key);
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, u"software\\qv\\LOCKED", KEY_SET_VALUE | KEY_CREATE_SUB_KEY);

    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked").c_str(), 0, KEY_WRITE, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked").c_str(), W("V").c_str()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked").c_str()), ERROR_ACCESS_DENIED);
    // Its children are not covered.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("Software\\QV\\Locked\\Child").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // A denial below HKEY_CURRENT_USER is one on the user's hive.
    KestraneEmu::DenyAccess(HKEY_CURRENT_USER, u"Software\\Mine", KEY_QUERY_VALUE);
    EXPECT_EQ(RegCreateKeyExW(HKEY_USERS, W("S-1-5-21-0-0-0-1000\\Software\\Mine").c_str(), 0, nullptr, 0, KEY_READ,
                              nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, W("S-1-5-21-0-0-0-1000\\Software\\Mine").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    DWORD size = 0;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, W("Software\\Mine").c_str(), W("x").c_str(), RRF_RT_ANY, nullptr,
                           nullptr, &size),
              ERROR_ACCESS_DENIED);
}

TEST_F(EmulationControls, RpcCallerIsPerThread) {
    ULONG pid = 0;
    EXPECT_EQ(I_RpcBindingInqLocalClientPID(nullptr, &pid), RPC_S_NO_CALL_ACTIVE);
    KestraneEmu::SetRpcClientPid(4242);
    ASSERT_EQ(I_RpcBindingInqLocalClientPID(nullptr, &pid), RPC_S_OK);
    EXPECT_EQ(pid, 4242u);
    RPC_STATUS other = 0;
    std::thread([&other] {
        ULONG otherPid = 0;
        other = I_RpcBindingInqLocalClientPID(nullptr, &otherPid);
    }).join();
    EXPECT_EQ(other, RPC_S_NO_CALL_ACTIVE);
}

TEST_F(EmulationControls, KeyCountersAndReset) {
    HKEY root = nullptr, opened = nullptr, created = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);  // a root handed back is not a new handle
    EXPECT_EQ(KestraneEmu::LastOpenAccess(), static_cast<REGSAM>(KEY_READ));
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software").c_str(), 0, KEY_QUERY_VALUE, &opened), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("Software\\New").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 2u);
    EXPECT_EQ(KestraneEmu::LastOpenAccess(), static_cast<REGSAM>(KEY_SET_VALUE | KEY_WOW64_64KEY));
    // Internal opens (RegGetValueW with a subkey) leave nothing open.
    DWORD size = 0;
    RegGetValueW(HKEY_LOCAL_MACHINE, W("Software\\New").c_str(), W("x").c_str(), RRF_RT_ANY, nullptr, nullptr, &size);
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 2u);

    // The current process's user decides HKEY_CURRENT_USER.
    KestraneEmu::AddProcess(GetCurrentProcessId(), u"S-1-5-18");
    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, W("Marker").c_str(), 0, nullptr, 0, KEY_READ, nullptr, &user,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(user);
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, W("S-1-5-18\\Marker").c_str(), 0, KEY_READ, &user), ERROR_SUCCESS);
    RegCloseKey(user);

    // After a reset the old handles stay counted and answer ERROR_KEY_DELETED.
    KestraneEmu::ResetRegistry();
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 2u);
    EXPECT_EQ(RegQueryValueExW(opened, W("x").c_str(), nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software\\New").c_str(), 0, KEY_READ, &user), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
}

}  // namespace
#endif
