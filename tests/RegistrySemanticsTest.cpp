// The registry behaviour the module relies on beyond what its own tests show (they run
// in both builds alike: expansion and Base64, for one, show there). The same tests run
// natively against the emulation and under Wine against the real advapi32, so a test
// that passes only natively shows the emulation is wrong.
#include "tests/RegistryFixture.h"

#ifndef _WIN32
#include "platform/native/Emulation.h"
#endif

#include <vector>

namespace {

using KestraneTest::DeleteTree;
using KestraneTest::U8;
using KestraneTest::W;
using KestraneTest::WString;

struct Key {
    HKEY h = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h != nullptr) RegCloseKey(h);
    }
};

// Every test works in its own scratch key below HKLM and removes it afterwards.
class RegistrySemantics : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        KestraneEmu::ResetRegistry();
#endif
        path_ = W(std::string("SOFTWARE\\QV\\KestraneEmuTest\\") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        DeleteTree(HKEY_LOCAL_MACHINE, path_);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &base_.h, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(base_.h);
        base_.h = nullptr;
        DeleteTree(HKEY_LOCAL_MACHINE, W("SOFTWARE\\QV\\KestraneEmuTest"));
    }
    LSTATUS Create(const WString& sub, Key& key, DWORD* disposition = nullptr) {
        if (key.h) RegCloseKey(key.h);
        key.h = nullptr;
        return RegCreateKeyExW(base_.h, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, disposition);
    }
    void SetBytes(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(base_.h, W(name).c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    WString path_;
    Key base_;
};

TEST_F(RegistrySemantics, OpenCreateAndDeleteStatuses) {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(Create(W("A\\B\\C"), key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(Create(W("a\\b\\c"), key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    // Wine's limit for one key name is 256 units, on open as on create.
    EXPECT_EQ(Create(WString(256, 'k'), key), ERROR_SUCCESS);
    EXPECT_EQ(Create(W("P\\") + WString(257, 'k'), key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Create(W("\\Lead"), key), ERROR_BAD_PATHNAME);
    const struct {
        const char* subKey;
        LSTATUS open;
    } opens[] = {{"Missing", ERROR_FILE_NOT_FOUND}, {"\\Lead", ERROR_BAD_PATHNAME}, {"A\\\\B\\", ERROR_SUCCESS},
                 {"P", ERROR_SUCCESS},  // parents made before a failing component stay
                 {"", ERROR_SUCCESS}};
    for (const auto& row : opens) {
        Key opened;
        EXPECT_EQ(RegOpenKeyExW(base_.h, W(row.subKey).c_str(), 0, KEY_READ, &opened.h), row.open) << row.subKey;
    }
    Key tooLong;
    EXPECT_EQ(RegOpenKeyExW(base_.h, WString(257, 'k').c_str(), 0, KEY_READ, &tooLong.h), ERROR_INVALID_PARAMETER);
    // A predefined root with an empty subkey is handed back as it is, and never closes.
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("").c_str(), 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKeyW(base_.h, W("A").c_str()), ERROR_ACCESS_DENIED);  // it has a subkey
    EXPECT_EQ(RegDeleteKeyW(base_.h, W("Nope").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, W("").c_str()), ERROR_ACCESS_DENIED);
    // A handle outlives its key: every use but closing says ERROR_KEY_DELETED; closing
    // twice is a bad handle.
    ASSERT_EQ(Create(W("A\\B\\C"), key), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(base_.h, W("a\\b\\C").c_str()), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key.h, W("V").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
    Key again;
    EXPECT_EQ(RegOpenKeyExW(key.h, nullptr, 0, KEY_READ, &again.h), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key.h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key.h), ERROR_INVALID_HANDLE);
    key.h = nullptr;
}

TEST_F(RegistrySemantics, EnumerationOrderBufferRulesAndValueSizes) {
    for (const char* sub : {"b", "_u", "A", "c"}) {
        Key key;
        ASSERT_EQ(Create(W(sub), key), ERROR_SUCCESS);
    }
    // Wine sorts subkeys by their lowercase names, so '_' comes before letters.
    std::vector<std::string> names;
    WCHAR name[64];
    LSTATUS status = ERROR_SUCCESS;
    for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD length = 64;
        status = RegEnumKeyExW(base_.h, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) names.push_back(U8(name));
    }
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(names, (std::vector<std::string>{"_u", "A", "b", "c"}));
    // Room for the name but not its NUL: 234, and the length is left as it was.
    DWORD length = 2;
    EXPECT_EQ(RegEnumKeyExW(base_.h, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(length, 2u);

    const WCHAR abc[] = {'a', 'b', 'c', 0};
    SetBytes("Str", REG_SZ, abc, sizeof abc);
    DWORD nameLength = 3, size = 0;
    EXPECT_EQ(RegEnumValueW(base_.h, 0, name, &nameLength, nullptr, nullptr, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_EQ(nameLength, 3u);
    EXPECT_EQ(size, 8u);
    BYTE small[4] = {0x55, 0x55, 0x55, 0x55};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(base_.h, W("Str").c_str(), nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], 0x55);  // a buffer too small is not touched
    // Wine counts a NUL left out of the size when one follows the data.
    SetBytes("NoNul", REG_SZ, abc, 6);
    ASSERT_EQ(RegQueryValueExW(base_.h, W("NoNul").c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    // Value names: up to 16383 units.
    const WString longest(16383, 'v');
    EXPECT_EQ(RegSetValueExW(base_.h, longest.c_str(), 0, REG_BINARY, small, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(base_.h, (longest + W("v")).c_str(), 0, REG_BINARY, small, 1), ERROR_INVALID_PARAMETER);
}

#ifndef _WIN32
// The counters the leak checks rely on: a counter that stayed at zero would let every
// leak check pass. (Fault injection, access denials and the RPC caller show themselves
// in the fault and caller-hive tests, whose expected statuses depend on them.)
TEST(EmulationControls, KeyCountersAndReset) {
    KestraneEmu::ResetRegistry();
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
    KestraneEmu::ResetRegistry();
}
#endif

}  // namespace
