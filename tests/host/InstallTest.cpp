// The installer package the way an administrator uses it, in a Wine prefix of its own
// (ctest's "install" test; the suite's main run leaves it out): install, the service
// running and answering, the machine keys secured, a rebuild and an upgrade in place, an uninstall that
// leaves no service and no program files.
#include "host/MachineKeySecurity.h"
#include "tests/RegistryFixture.h"
#include "tests/host/RunningHost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using KestraneTest::KeySddl;

constexpr DWORD kProgramTimeoutMs = 180000;
// msiexec ended with 91, nothing installed, when a prefix had two service managers
// running (see tools/wine-server.sh); a bounded retry keeps that from failing the test.
constexpr int kInstallAttempts = 5;
constexpr DWORD kUnsettledPrefixExit = 91;
constexpr DWORD kServiceWaitMs = 30000;
const std::wstring kProgramFolder = L"C:\\Program Files\\Kestrane";
const wchar_t* const kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A path of this machine as Wine's Z: drive shows it to Windows programs.
std::wstring WindowsPath(const char* path) {
    std::wstring converted = L"Z:";
    for (const char* c = path; *c != 0; ++c) converted += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return converted;
}

// Runs a program to its end (bounded); its exit code, or ~0u when it did not end.
DWORD Run(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    KestraneTest::ProbeProcess process(arguments, program);
    DWORD code = ~0u;
    return process.Resume() && process.Wait(kProgramTimeoutMs, &code) ? code : ~0u;
}

DWORD Msiexec(const std::wstring& action, const char* package, const char* log) {
    wchar_t system[MAX_PATH];
    return Run(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\msiexec.exe",
               {action, WindowsPath(package), L"/qn", L"/l*v", WindowsPath(log)});
}

DWORD Install(const char* package, const char* log) {
    DWORD code = kUnsettledPrefixExit;
    for (int attempt = 0; attempt < kInstallAttempts && code == kUnsettledPrefixExit; ++attempt) {
        if (attempt > 0) Sleep(3000);
        code = Msiexec(L"/i", package, log);
    }
    return code;
}

struct ServiceFacts {
    DWORD openError = 0;  // ERROR_SERVICE_DOES_NOT_EXIST once removed
    DWORD state = 0;
    DWORD startType = 0;
    std::wstring command;
    std::wstring account;
};

// Waits (bounded) for the service to be running, then reads its configuration.
ServiceFacts HostService() {
    ServiceFacts facts;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KestraneHost", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)
                                : nullptr;
    if (service == nullptr) {
        facts.openError = GetLastError();
    } else {
        SERVICE_STATUS status = {};
        for (DWORD waited = 0; waited < kServiceWaitMs; waited += 200) {
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) break;
            Sleep(200);
        }
        facts.state = status.dwCurrentState;
        union {
            QUERY_SERVICE_CONFIGW config;
            BYTE bytes[8192];
        } buffer;
        DWORD needed = 0;
        if (QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed)) {
            facts.startType = buffer.config.dwStartType;
            facts.command = buffer.config.lpBinaryPathName ? buffer.config.lpBinaryPathName : L"";
            facts.account = buffer.config.lpServiceStartName ? buffer.config.lpServiceStartName : L"";
        }
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    return facts;
}

std::wstring RegistryText(HKEY key, const wchar_t* name) {
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS ? text : L"";
}

// Every Programs and Features entry named Kestrane, as "<version> by <publisher>".
std::vector<std::wstring> ListedProducts() {
    std::vector<std::wstring> products;
    HKEY uninstall = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &uninstall) != ERROR_SUCCESS)
        return products;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(uninstall, name, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
        if (RegistryText(entry, L"DisplayName") == L"Kestrane") {
            products.push_back(RegistryText(entry, L"DisplayVersion") + L" by " + RegistryText(entry, L"Publisher"));
        }
        RegCloseKey(entry);
    }
    RegCloseKey(uninstall);
    return products;
}

std::wstring FileVersion(const std::wstring& path) {
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr)
        return L"(none)";
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS));
}

// Whether an ordinary user may change the key, told from its SDDL: its owner, or an entry that
// applies to the key itself and allows one of the change rights (KA, GA, GW, KW, WD, WO, SD
// or a mask with one of them), for anyone but the system, Administrators and the services.
std::wstring ChangeRightsOfOthers(const std::wstring& sddl) {
    auto trusted = [](const std::wstring& sid) {
        return sid == L"SY" || sid == L"BA" || sid == L"LS" || sid == L"NS" || sid.rfind(L"S-1-5-80-", 0) == 0;
    };
    std::wstring found;
    const std::size_t ownerEnd = sddl.find(L"D:");
    if (sddl.rfind(L"O:", 0) != 0 || ownerEnd == std::wstring::npos) return L"unreadable: " + sddl;
    if (!trusted(sddl.substr(2, ownerEnd - 2))) found += L"owner " + sddl.substr(2, ownerEnd - 2) + L"; ";
    for (std::size_t open = sddl.find(L'('); open != std::wstring::npos; open = sddl.find(L'(', open + 1)) {
        const std::wstring entry = sddl.substr(open + 1, sddl.find(L')', open) - open - 1);
        std::vector<std::wstring> field(1);
        for (wchar_t c : entry) {
            if (c == L';') field.emplace_back();
            else field.back().push_back(c);
        }
        if (field.size() < 6 || field[0] != L"A" || field[1].find(L"IO") != std::wstring::npos || trusted(field[5]))
            continue;
        const std::wstring& rights = field[2];
        bool changes = rights.rfind(L"0x", 0) == 0 && (std::wcstoul(rights.c_str(), nullptr, 16) & 0x500D0026u) != 0;
        for (const wchar_t* right : {L"KA", L"GA", L"GW", L"KW", L"WD", L"WO", L"SD"})
            for (std::size_t at = 0; (at = rights.find(right, at)) != std::wstring::npos; at += 2)
                changes = changes || at % 2 == 0;
        if (changes) found += L"(" + entry + L"); ";
    }
    return found;
}

bool SetKeySddl(const std::wstring& subkey, const wchar_t* sddl) {
    HKEY key = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                                WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS &&
                ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor) ==
                    ERROR_SUCCESS;
    LocalFree(descriptor);
    if (key) RegCloseKey(key);
    return done;
}

// The host's log in this prefix, as text.
std::string HostLog() {
    const wchar_t* data = _wgetenv(L"ProgramData");
    std::ifstream file(std::filesystem::path(data ? data : L"") / L"Kestrane" / L"kestrane.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void ExpectRunningAndAnswering(const char* when) {
    SCOPED_TRACE(when);
    const ServiceFacts service = HostService();
    ASSERT_EQ(service.openError, 0u);
    EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(service.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    const std::wstring tail = L"kestrane-host.exe\" service";  // no endpoint name: the mapper's way
    EXPECT_EQ(service.command.rfind(tail), service.command.size() - tail.size())
        << std::string(service.command.begin(), service.command.end());
    EXPECT_TRUE(service.account.empty() || _wcsicmp(service.account.c_str(), L"LocalSystem") == 0);
    // The installed kestrane-cli names no endpoint: it finds the service through the endpoint mapper.
    EXPECT_EQ(Run(kProgramFolder + L"\\kestrane-cli.exe",
                  {L"--client-id", L"install-test", L"exists", L"HKLM\\SOFTWARE\\QV"}),
              0u);
}

}  // namespace

TEST(Install, InstallsServesRebuildsUpgradesAndUninstallsWithoutATrace) {
    ASSERT_TRUE(ListedProducts().empty()) << "the prefix is not fresh";
    const std::vector<std::wstring> keys = Kestrane::Host::WriteListedMachineKeys();

    // A link planted at the last listed key, to a key of a service's with rights others could
    // misuse, and a listed key that users may write: the install fails naming the link, and
    // leaves the listed keys, the link and its target as they were.
    {
        const std::wstring mixer = L"SOFTWARE\\Conexant\\SA3\\Mixer";
        ASSERT_EQ(keys.back(), mixer);
        const std::wstring target = L"SOFTWARE\\KestraneInstallTarget";
        ASSERT_TRUE(SetKeySddl(target, L"O:NSD:(A;;KA;;;NS)(A;;KA;;;LS)(A;;KA;;;BU)(A;;KA;;;BA)"));
        ASSERT_TRUE(SetKeySddl(keys.front(), L"O:BUD:(A;CI;KA;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"));
        // Its parent made stable first: a link's volatile option would reach the keys made on the way.
        HKEY parent = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Conexant\\SA3", 0, nullptr, 0, KEY_READ | KEY_WOW64_64KEY,
                                  nullptr, &parent, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(parent);
        ASSERT_EQ(KestraneTest::CreateRegistryLink(HKEY_LOCAL_MACHINE, mixer, L"\\Registry\\Machine\\" + target),
                  ERROR_SUCCESS);
        // The listed keys and their parents, which the run creates where missing and must remove.
        std::vector<std::wstring> places = keys;
        for (const std::wstring& key : keys) places.push_back(key.substr(0, key.rfind(L'\\')));
        std::vector<std::wstring> before;
        for (const std::wstring& place : places) before.push_back(KeySddl(place));
        const std::wstring targetBefore = KeySddl(target);

        // `secure` logs where the installed host does, not where the suite's KESTRANE_LOG says.
        SetEnvironmentVariableW(L"KESTRANE_LOG", nullptr);
        EXPECT_NE(Install(KESTRANE_MSI, KESTRANE_INSTALL_LOG_DIR "/planted-link.log"), 0u);
        const std::string log = HostLog();
        for (const char* line : {"narrowing HKEY_LOCAL_MACHINE\\SOFTWARE\\QV from O:BUD:",
                                 "cannot secure HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer: it is a registry link to "
                                 "\\Registry\\Machine\\SOFTWARE\\KestraneInstallTarget",
                                 "restored HKEY_LOCAL_MACHINE\\SOFTWARE\\QV to O:BUD:"})
            EXPECT_NE(log.find(line), std::string::npos) << line;
        EXPECT_EQ(HostService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
        EXPECT_EQ(KeySddl(target), targetBefore);
        for (std::size_t i = 0; i < places.size(); ++i)
            EXPECT_EQ(KeySddl(places[i]), before[i]) << std::string(places[i].begin(), places[i].end());
        KestraneTest::DeleteTree(HKEY_LOCAL_MACHINE, mixer);
        EXPECT_EQ(KeySddl(mixer), L"(none)");
    }

    ASSERT_EQ(Install(KESTRANE_MSI, KESTRANE_INSTALL_LOG_DIR "/install.log"), 0u)
        << "see " KESTRANE_INSTALL_LOG_DIR "/install.log";
    ExpectRunningAndAnswering("installed");
    EXPECT_EQ(ListedProducts(), std::vector<std::wstring>{L"" KESTRANE_VERSION " by " KESTRANE_PUBLISHER});
    for (const wchar_t* file : {L"kestrane-host.exe", L"kestrane-cli.exe", L"KestraneService.dll", L"Logging.dll",
                                L"KestraneClient.dll"})
        EXPECT_EQ(FileVersion(kProgramFolder + L"\\" + file), L"" KESTRANE_VERSION) << file;
    for (const wchar_t* file : {L"kestrane_client.h", L"kestrane_client.hpp", L"KestraneClient.lib"})
        EXPECT_NE(GetFileAttributesW((kProgramFolder + L"\\sdk\\" + file).c_str()), INVALID_FILE_ATTRIBUTES) << file;
    EXPECT_NE(std::find(keys.begin(), keys.end(), L"SOFTWARE\\QV"), keys.end());
    for (const std::wstring& key : keys)
        EXPECT_EQ(ChangeRightsOfOthers(KeySddl(key)), L"") << std::string(key.begin(), key.end());

    // A second build of the installed version replaces it in place: one product, still served.
    ASSERT_EQ(Install(KESTRANE_REBUILD_MSI, KESTRANE_INSTALL_LOG_DIR "/rebuild.log"), 0u)
        << "see " KESTRANE_INSTALL_LOG_DIR "/rebuild.log";
    ExpectRunningAndAnswering("rebuilt");
    EXPECT_EQ(ListedProducts(), std::vector<std::wstring>{L"" KESTRANE_VERSION " by " KESTRANE_PUBLISHER});

    ASSERT_EQ(Install(KESTRANE_UPGRADE_MSI, KESTRANE_INSTALL_LOG_DIR "/upgrade.log"), 0u)
        << "see " KESTRANE_INSTALL_LOG_DIR "/upgrade.log";
    ExpectRunningAndAnswering("upgraded");
    EXPECT_EQ(ListedProducts(), std::vector<std::wstring>{L"" KESTRANE_NEXT_VERSION " by " KESTRANE_PUBLISHER});

    ASSERT_EQ(Msiexec(L"/x", KESTRANE_UPGRADE_MSI, KESTRANE_INSTALL_LOG_DIR "/uninstall.log"), 0u)
        << "see " KESTRANE_INSTALL_LOG_DIR "/uninstall.log";
    EXPECT_EQ(HostService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(GetFileAttributesW(kProgramFolder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(ListedProducts().empty());
}

// kestrane-host install sets the restart on failure, and a service host that cannot start
// shows its own exit code to the service manager. Here it cannot because a console host
// already serves the endpoint the service is given.
TEST(Install, TheServiceRestartsOnFailureAndReportsTheHostsExitCode) {
    const std::wstring endpoint = L"kestrane-install-test";
    const auto console = KestraneTest::StartHost({L"run", L"--endpoint", endpoint}, endpoint);
    ASSERT_FALSE(HasFailure());
    KestraneTest::ProbeProcess install({L"install", L"--endpoint", endpoint}, L"kestrane-host.exe");
    ASSERT_TRUE(install.Resume());
    DWORD code = ~0u;
    ASSERT_TRUE(install.Wait(kProgramTimeoutMs, &code)) << install.Output();
    ASSERT_EQ(code, 0u) << install.Output();

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"KestraneHost", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                                                   SERVICE_START | DELETE);
    ASSERT_NE(service, nullptr);
    union {
        SERVICE_FAILURE_ACTIONSW actions;
        BYTE bytes[1024];
    } recovery = {};
    DWORD needed = 0;
    const BOOL read = QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, recovery.bytes, sizeof recovery, &needed);
    const DWORD readError = GetLastError();
    if (!read && KestraneTest::WineBehaviour()) {
        // Wine's service manager takes the actions, keeps none and cannot be asked for them.
        EXPECT_EQ(readError, static_cast<DWORD>(ERROR_INVALID_LEVEL));
    } else {
        ASSERT_TRUE(read) << readError;
        ASSERT_EQ(recovery.actions.cActions, 3u);
        const DWORD delays[] = {5000, 5000, 60000};
        for (DWORD i = 0; i < 3; ++i) {
            EXPECT_EQ(recovery.actions.lpsaActions[i].Type, SC_ACTION_RESTART) << i;
            EXPECT_EQ(recovery.actions.lpsaActions[i].Delay, delays[i]) << i;
        }
        EXPECT_EQ(recovery.actions.dwResetPeriod, 86400u);
    }

    // Wine's runtime would let both listen; the host itself refuses to (exit code 3).
    for (int attempt = 0; attempt < 100 && !StartServiceW(service, 0, nullptr); ++attempt) Sleep(100);
    SERVICE_STATUS status = {};
    for (DWORD waited = 0; waited < kServiceWaitMs; waited += 200) {
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED) break;
        Sleep(200);
    }
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 3u);
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}
