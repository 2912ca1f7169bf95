// The counters the leak checks rely on: a counter that stayed at zero would let every
// leak check pass. (Fault injection, access denials and the RPC caller show themselves
// in the fault and caller-hive tests, whose expected statuses depend on them.)
#ifndef _WIN32
#include "TestSupport.h"
#include "platform/native/Emulation.h"

namespace {

using KestraneTest::W;

class EmulationControls : public ::testing::Test {
protected:
    void SetUp() override { KestraneEmu::ResetRegistry(); }
    void TearDown() override { KestraneEmu::ResetRegistry(); }
};

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
