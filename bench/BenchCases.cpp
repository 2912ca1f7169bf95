#include "bench/BenchCases.h"

#include "host/ContractObjects.h"

#ifdef _WIN32
extern "C" NTSYSAPI LONG NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                          ULONG* resultLength);
#endif

#include <cstdio>
#include <cstdlib>

namespace KestraneBench {
namespace {

constexpr REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;
// 1000 entries answer about 50 000 characters: the largest listing within the 65536-character bound.
const std::size_t kSizes[] = {1, 100, 1000};
const char* const kBase = "SOFTWARE\\QV\\KestraneBench";
// A listed key behind Windows' CurrentControlSet link: its own name is not listed, so the
// link check reads the link (the test prefix has it once the Windows suite ran).
const char* const kBehindLink = "SYSTEM\\CurrentControlSet\\Control\\Print\\KestraneBench";

WText Wide(const std::string& ascii) { return WText(ascii.begin(), ascii.end()); }

// A JSON string literal of an ASCII text: only the backslash needs escaping here.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string NumberedName(char prefix, std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "%c%05zu", prefix, i);
    return name;
}

// The raw sequences follow the command's own steps call for call.

// The link check's registry call: the opened key's own name.
void QueryName(HKEY key) {
#ifdef _WIN32
    alignas(ULONG) BYTE buffer[512];
    ULONG needed = 0;
    NtQueryKey(key, 3 /* KeyNameInformation */, buffer, sizeof buffer, &needed);
#else
    std::u16string name;
    KestraneQueryKeyName(key, &name);
#endif
}

void RawCheck(const Case& c) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.subKey.c_str(), 0, kRead, &key) == ERROR_SUCCESS) RegCloseKey(key);
}

void RawReadValue(const Case& c) { ReadOneValue(HKEY_LOCAL_MACHINE, c.subKey, c.valueName, true); }

void RawReadValues(const Case& c) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.subKey.c_str(), 0, kRead, &key) != ERROR_SUCCESS) return;
    QueryName(key);
    DWORD values = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &maxName, &maxData,
                         nullptr, nullptr) == ERROR_SUCCESS) {
        std::vector<WCHAR> name(maxName + 1);
        std::vector<BYTE> data(maxData + 1);
        for (DWORD i = 0; i < values; ++i) {
            DWORD nameLength = maxName + 1;
            DWORD size = maxData + 1;
            DWORD type = 0;
            if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                continue;
            DWORD read = size;
            RegGetValueW(key, nullptr, name.data(), RRF_RT_ANY | RRF_NOEXPAND, nullptr, size ? data.data() : nullptr,
                         &read);
        }
    }
    RegCloseKey(key);
}

void RawWriteValue(const Case& c) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, &disposition) != ERROR_SUCCESS)
        return;
    QueryName(key);
    static const WCHAR text[] = WIDE("short text");
    RegSetValueExW(key, c.valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    RegCloseKey(key);
}

void RawReadSubKeys(const Case& c) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.subKey.c_str(), 0, kRead, &key) != ERROR_SUCCESS) return;
    QueryName(key);
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxName, &maxData,
                         nullptr, nullptr) == ERROR_SUCCESS) {
        WCHAR name[256];
        for (DWORD i = 0; i < subKeys; ++i) {
            DWORD nameLength = 256;
            FILETIME lastWrite;
            RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, &lastWrite);
        }
    }
    RegCloseKey(key);
}

void RawReadCurrentUser(const Case& c) {
    DWORD pid = 0;
    ULONG value = 0;
    if (I_RpcBindingInqLocalClientPID(nullptr, &value) != 0) return;
    pid = value;
    const HKEY hive = OpenHiveOfProcess(pid, KEY_READ, true);
    if (hive == nullptr) return;
    ReadOneValue(hive, c.subKey, c.valueName, true);
    RegCloseKey(hive);
}

std::string Request(const std::string& root, const std::string& sub, const char* extra) {
    return "{\"keyPath\":" + Quoted(root + "\\" + sub) + extra + "}";
}

Case Make(const std::string& name, int32_t id, const std::string& sub, const char* extra, void (*raw)(const Case&),
          std::size_t count = 0, bool currentUser = false) {
    const std::string root = currentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    return Case{name, id, Wide(Request(root, sub, extra)), currentUser, count, raw, Wide(sub), Wide("Text")};
}

}  // namespace

void ReadOneValue(HKEY root, const WText& subKey, const WText& valueName, bool checkName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, kRead, &key) != ERROR_SUCCESS) return;
    if (checkName) QueryName(key);
    // Below the caller's hive the check also needs the hive's own name.
    if (checkName && root != HKEY_LOCAL_MACHINE) QueryName(root);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        BYTE data[512];
        DWORD read = size <= sizeof data ? size : sizeof data;
        RegGetValueW(key, nullptr, valueName.c_str(), RRF_RT_ANY | RRF_NOEXPAND, nullptr, data, &read);
    }
    RegCloseKey(key);
}

LSTATUS CreateWithValues(HKEY root, const WText& path, std::size_t values, std::size_t subKeys) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) return result;
    static const WCHAR text[] = WIDE("short text");
    if (values == 0)
        result = RegSetValueExW(key, WIDE("Text"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    for (std::size_t i = 0; i < values && result == ERROR_SUCCESS; ++i)
        result = RegSetValueExW(key, Wide(NumberedName('v', i)).c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text), sizeof text);
    for (std::size_t i = 0; i < subKeys && result == ERROR_SUCCESS; ++i) {
        HKEY child = nullptr;
        result = RegCreateKeyExW(key, Wide(NumberedName('k', i)).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &child, &disposition);
        if (result == ERROR_SUCCESS) RegCloseKey(child);
    }
    RegCloseKey(key);
    return result;
}

// Deletes a key and everything below it with the calls both builds have.
void DeleteTree(HKEY root, const WText& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    std::vector<WText> children;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        FILETIME lastWrite;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, &lastWrite) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const WText& child : children) DeleteTree(root, path + WIDE("\\") + child);
    RegDeleteKeyW(root, path.c_str());
}

std::vector<Case> MakeCases(std::size_t largest) {
    const std::string base = kBase;
    std::vector<Case> cases;
    cases.push_back(Make("id 0 check path", 0, base + "\\Small", "", RawCheck));
    cases.push_back(Make("id 4 read REG_SZ", 4, base + "\\Small", ",\"regKeyValueName\":\"Text\"", RawReadValue));
    for (std::size_t n : kSizes) {
        if (n > largest) continue;
        const std::string sub = base + "\\Values" + std::to_string(n);
        cases.push_back(Make("id 8 values, " + std::to_string(n), 8, sub, "", RawReadValues, n));
    }
    cases.push_back(Make("id 16 write REG_SZ", 16, base + "\\Write",
                         ",\"regKeyValueName\":\"Text\",\"requestedDataType\":1,\"writeDataValue\":\"short text\"",
                         RawWriteValue));
    for (std::size_t n : kSizes) {
        if (n > largest) continue;
        const std::string sub = base + "\\SubKeys" + std::to_string(n);
        cases.push_back(Make("id 128 subkeys, " + std::to_string(n), 128, sub, "", RawReadSubKeys, n));
    }
    cases.push_back(Make("id 4 behind a system link", 4, kBehindLink, ",\"regKeyValueName\":\"Text\"", RawReadValue));
    cases.push_back(Make("id 4 HKEY_CURRENT_USER", 4, base + "\\Small", ",\"regKeyValueName\":\"Text\"",
                         RawReadCurrentUser, 0, true));
    return cases;
}

bool CreateKeys(std::size_t largest) {
    const WText base = Wide(kBase);
    DeleteKeys();
    bool ok = CreateWithValues(HKEY_LOCAL_MACHINE, base + WIDE("\\Small"), 0, 0) == ERROR_SUCCESS &&
              CreateWithValues(HKEY_LOCAL_MACHINE, base + WIDE("\\Write"), 0, 0) == ERROR_SUCCESS &&
              CreateWithValues(HKEY_LOCAL_MACHINE, Wide(kBehindLink), 0, 0) == ERROR_SUCCESS;
    for (std::size_t n : kSizes) {
        if (n > largest) continue;
        const WText count = Wide(std::to_string(n));
        ok = ok && CreateWithValues(HKEY_LOCAL_MACHINE, base + WIDE("\\Values") + count, n, 0) == ERROR_SUCCESS;
        ok = ok && CreateWithValues(HKEY_LOCAL_MACHINE, base + WIDE("\\SubKeys") + count, 1, n) == ERROR_SUCCESS;
    }
    const HKEY hive = OpenHiveOfProcess(GetCurrentProcessId(), KEY_ALL_ACCESS);
    ok = ok && hive != nullptr && CreateWithValues(hive, base + WIDE("\\Small"), 0, 0) == ERROR_SUCCESS;
    if (hive) RegCloseKey(hive);
    return ok;
}

void DeleteKeys() {
    DeleteTree(HKEY_LOCAL_MACHINE, Wide(kBase));
    DeleteTree(HKEY_LOCAL_MACHINE, Wide(kBehindLink));
    if (const HKEY hive = OpenHiveOfProcess(GetCurrentProcessId(), KEY_ALL_ACCESS)) {
        DeleteTree(hive, Wide(kBase));
        RegCloseKey(hive);
    }
}

bool RunModule(Svc::QVService* service, const Case& c) {
    // A host makes a client's context once, when the client connects, not per call.
    static Svc::ClientContext* context = nullptr;
    if (!context) service->CreateClientContext(WIDE("bench"), &context);
    WCHAR* out = nullptr;
    const Svc::ServiceStatus status =
        service->ExecuteCommand(context, c.functionId, c.request.c_str(), &out,
                                Kestrane::Host::CallbackArgument().get(), nullptr);
    service->FreeOutString(out);
    return status == Svc::Success;
}

namespace {

// The user the served call's client impersonates as is the process's user.
bool IsCallerTheUser(PSID processUser) {
    if (RpcImpersonateClient(nullptr) != RPC_S_OK) return false;
    bool same = false;
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        if (void* user = std::malloc(size)) {
            same = GetTokenInformation(token, TokenUser, user, size, &size) &&
                   EqualSid(processUser, static_cast<TOKEN_USER*>(user)->User.Sid);
            std::free(user);
        }
        CloseHandle(token);
    }
    RpcRevertToSelf();
    return same;
}

}  // namespace

HKEY OpenHiveOfProcess(DWORD pid, REGSAM access, bool checkCaller) {
    HKEY hive = nullptr;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return nullptr;
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_READ, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        if (void* user = std::malloc(size)) {
            WCHAR* sid = nullptr;
            if (GetTokenInformation(token, TokenUser, user, size, &size) &&
                (!checkCaller || IsCallerTheUser(static_cast<TOKEN_USER*>(user)->User.Sid)) &&
                ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
                if (RegOpenKeyExW(HKEY_USERS, sid, 0, access, &hive) != ERROR_SUCCESS) hive = nullptr;
                LocalFree(sid);
            }
            std::free(user);
        }
        CloseHandle(token);
    }
    CloseHandle(process);
    return hive;
}

}  // namespace KestraneBench
