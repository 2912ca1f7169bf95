// The registry links a stock Windows 10/11 has in front of listed keys and a Wine
// prefix lacks, made once per test run before any test, so the suite meets Windows'
// layout under Wine too (the emulation has it built in):
//   HKEY_USERS\S-1-5-18 -> HKEY_USERS\.DEFAULT
//   the current user's Software\Classes -> HKEY_USERS\<SID>_Classes
//   HKLM\SYSTEM\CurrentControlSet -> HKLM\SYSTEM\ControlSet001 (Wine keeps a plain key:
//     it is renamed to ControlSet001 and the link put in its place, once per prefix)
//   HKLM\SYSTEM\ControlSet001\Control\Print\Printers
//     -> HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Print\Printers (a plain key)
// A place counts as done only when it really is a link: a plain key holding a link value
// (as a test may plant for a while) is replaced.
#ifdef _WIN32

#include "platform/NtKeyCalls.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

// Opened normally, the registry names another key than the one opened as itself (a plain key
// holding a link value is not followed).
bool IsLink(HKEY root, const WString& subKey) {
    WString own;
    WString reached;
    for (const DWORD option : {DWORD{REG_OPTION_OPEN_LINK}, DWORD{0}}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, subKey.c_str(), option, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        const LSTATUS named = QueryKeyName(key, option != 0 ? &own : &reached);
        RegCloseKey(key);
        if (named != ERROR_SUCCESS) return false;
    }
    return _wcsicmp(own.c_str(), reached.c_str()) != 0;
}

bool Exists(HKEY root, const WString& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// \REGISTRY\User\<SID> of this process's HKEY_CURRENT_USER, from its Software key.
WString CurrentUserHive() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return WString();
    WString name;
    QueryKeyName(key, &name);
    RegCloseKey(key);
    const std::size_t cut = name.rfind(L'\\');
    return cut == WString::npos ? WString() : name.substr(0, cut);
}

class WindowsLinks : public ::testing::Environment {
public:
    void SetUp() override {
        if (!IsLink(HKEY_USERS, L"S-1-5-18")) {
            DeleteTree(HKEY_USERS, L"S-1-5-18");
            ASSERT_EQ(CreateRegistryLink(HKEY_USERS, L"S-1-5-18", L"\\Registry\\User\\.Default"), ERROR_SUCCESS);
        }

        const WString hive = CurrentUserHive();
        ASSERT_FALSE(hive.empty());
        if (!IsLink(HKEY_CURRENT_USER, L"Software\\Classes")) {
            const WString classes = hive.substr(hive.rfind(L'\\') + 1) + L"_Classes";
            HKEY target = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, classes.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target,
                                      nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(target);
            DeleteTree(HKEY_CURRENT_USER, L"Software\\Classes");
            ASSERT_EQ(CreateRegistryLink(HKEY_CURRENT_USER, L"Software\\Classes", L"\\Registry\\User\\" + classes),
                      ERROR_SUCCESS);
        }

        // Kept in the prefix (not volatile): Wine's own services keep using the renamed key.
        if (!IsLink(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet") &&
            !Exists(HKEY_LOCAL_MACHINE, L"SYSTEM\\ControlSet001")) {
            HKEY current = nullptr;
            ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet", 0, KEY_ALL_ACCESS, &current),
                      ERROR_SUCCESS);
            const LSTATUS renamed = RegRenameKey(current, nullptr, L"ControlSet001");
            RegCloseKey(current);
            ASSERT_EQ(renamed, ERROR_SUCCESS);
            ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet",
                                         L"\\Registry\\Machine\\System\\ControlSet001", false),
                      ERROR_SUCCESS);
        }

        const WString printers = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
        if (IsLink(HKEY_LOCAL_MACHINE, printers)) DeleteTree(HKEY_LOCAL_MACHINE, printers);
        HKEY real = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, printers.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &real, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(real);
        const WString printersLink = L"SYSTEM\\ControlSet001\\Control\\Print\\Printers";
        if (!IsLink(HKEY_LOCAL_MACHINE, printersLink)) {
            DeleteTree(HKEY_LOCAL_MACHINE, printersLink);
            ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, printersLink, L"\\Registry\\Machine\\" + printers),
                      ERROR_SUCCESS);
        }
    }
};

::testing::Environment* const kWindowsLinks = ::testing::AddGlobalTestEnvironment(new WindowsLinks);

}  // namespace

#endif
