// The registry links a stock Windows 10/11 has in front of listed keys and a Wine
// prefix lacks, made once per test run before any test, so the suite meets Windows'
// layout under Wine too (the emulation has it built in):
//   HKEY_USERS\S-1-5-18 -> HKEY_USERS\.DEFAULT
//   the current user's Software\Classes -> HKEY_USERS\<SID>_Classes
//   HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Print\Printers
//     -> HKLM\SYSTEM\CurrentControlSet\Control\Print\Printers
//   HKLM\SYSTEM\CurrentControlSet -> HKLM\SYSTEM\ControlSet001 (Wine keeps a plain key:
//     it is renamed to ControlSet001 and the link put in its place, once per prefix)
#ifdef _WIN32

#include "tests/RegistryFixture.h"

#include <winternl.h>

extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                     ULONG* resultLength);

using namespace KestraneTest;

namespace {

bool IsLink(HKEY root, const WString& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    const bool link = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
                          ERROR_SUCCESS &&
                      type == REG_LINK;
    RegCloseKey(key);
    return link;
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
    BYTE buffer[1024];
    ULONG size = 0;
    WString name;
    if (NtQueryKey(key, 3, buffer, sizeof buffer, &size) >= 0)
        name.assign(reinterpret_cast<const WCHAR*>(buffer + sizeof(ULONG)),
                    *reinterpret_cast<const ULONG*>(buffer) / sizeof(WCHAR));
    RegCloseKey(key);
    const std::size_t cut = name.rfind(L'\\');
    return cut == WString::npos ? WString() : name.substr(0, cut);
}

class WindowsLinks : public ::testing::Environment {
public:
    void SetUp() override {
        if (!IsLink(HKEY_USERS, L"S-1-5-18")) {
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

        const WString printers = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
        if (!IsLink(HKEY_LOCAL_MACHINE, printers)) {
            DeleteTree(HKEY_LOCAL_MACHINE, printers);
            ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, printers,
                                         L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Print\\Printers"),
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
    }
};

::testing::Environment* const kWindowsLinks = ::testing::AddGlobalTestEnvironment(new WindowsLinks);

}  // namespace

#endif
