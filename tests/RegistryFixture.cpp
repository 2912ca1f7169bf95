#include "tests/RegistryFixture.h"

#ifndef _WIN32
#include "platform/native/Emulation.h"
#endif

#include "platform/NtKeyCalls.h"

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#endif

#include <cstring>

namespace KestraneTest {

void DeleteTree(HKEY root, const WString& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return;
    // A link goes itself; what it leads to stays (a delete by path would take the target).
    DWORD type = 0;
    if (RegQueryValueExW(key, WIDE("SymbolicLinkValue"), nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
        type == REG_LINK) {
        DeleteOpenedKey(key);
        RegCloseKey(key);
        return;
    }
    std::vector<WString> children;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const WString& child : children) DeleteTree(root, subKey + WIDE("\\") + child);
    RegDeleteKeyW(root, subKey.c_str());
}

ScratchKey::ScratchKey(const std::string& name) : name_(name) {
#ifndef _WIN32
    KestraneEmu::ResetRegistry();
#endif
    DeleteTree(HKEY_LOCAL_MACHINE, SubKey());
    CreateKey("");
}

ScratchKey::~ScratchKey() { DeleteTree(HKEY_LOCAL_MACHINE, SubKey()); }

std::string ScratchKey::Path(const std::string& below) const {
    std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\KestraneTest\\" + name_;
    if (!below.empty()) path += "\\" + below;
    return path;
}

WString ScratchKey::SubKey(const std::string& below) const {
    return W(Path(below).substr(std::string("HKEY_LOCAL_MACHINE\\").size()));
}

void ScratchKey::CreateKey(const std::string& below) const {
    HKEY key = nullptr;
    const LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SubKey(below).c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    ASSERT_EQ(result, ERROR_SUCCESS) << Path(below);
    RegCloseKey(key);
}

void ScratchKey::SetValue(const std::string& name, DWORD type, const Bytes& data, const std::string& below) const {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SubKey(below).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const WString valueName = W(name);
    EXPECT_EQ(RegSetValueExW(key, valueName.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS)
        << name;
    RegCloseKey(key);
}

void ScratchKey::SetString(const std::string& name, const std::string& text, DWORD type) const {
    WString units = W(text);
    units.push_back(0);
    SetValue(name, type, UnitBytes(units));
}

bool ScratchKey::GetValue(const std::string& name, DWORD* type, Bytes* data, const std::string& below) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(below).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    const WString valueName = W(name);
    DWORD size = 0;
    LSTATUS result = RegQueryValueExW(key, valueName.c_str(), nullptr, type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        data->assign(size, 0);
        result = RegQueryValueExW(key, valueName.c_str(), nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool ScratchKey::KeyExists(const std::string& below) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(below).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

#ifdef _WIN32
LSTATUS CreateRegistryLink(HKEY root, const WString& subKey, const WString& target, bool isVolatile) {
    HKEY link = nullptr;
    LSTATUS result = RegCreateKeyExW(root, subKey.c_str(), 0, nullptr,
                                     REG_OPTION_CREATE_LINK | (isVolatile ? REG_OPTION_VOLATILE : 0),
                                     KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                            static_cast<DWORD>(target.size() * sizeof(WCHAR)));
    RegCloseKey(link);
    return result;
}

WString KeySddl(const WString& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), REG_OPTION_OPEN_LINK, READ_CONTROL | KEY_WOW64_64KEY,
                      &key) != ERROR_SUCCESS)
        return L"(none)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    WString result = L"(unreadable)";
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, what, nullptr, nullptr, nullptr, nullptr, &descriptor) ==
            ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, what, &text, nullptr))
        result = text;
    LocalFree(text);
    LocalFree(descriptor);
    RegCloseKey(key);
    return result;
}
#endif

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

namespace Req {
std::string Key(const std::string& path) { return "{\"keyPath\":" + Quote(path) + ",\"expandString\":false}"; }
std::string Value(const std::string& path, const std::string& name) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) + ",\"expandString\":false}";
}
std::string Write(const std::string& path, const std::string& name, int type, const std::string& dataJson) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) +
           ",\"requestedDataType\":" + std::to_string(type) + ",\"writeDataValue\":" + dataJson + "}";
}
}  // namespace Req

void ExpectReplies(Svc::QVService* service, const std::vector<ReplyRow>& rows, Svc::AccessPolicy* policy) {
    for (const ReplyRow& row : rows) {
        LogCapture capture;
        const Reply reply = Execute(service, row.id, row.request, policy);
        const std::string where = "id " + std::to_string(row.id) + " " + row.request;
        EXPECT_EQ(reply.status, row.status) << where;
        if (row.text) {
            EXPECT_EQ(reply.text, row.text) << where;
        }
        EXPECT_EQ(capture.Messages(), row.log) << where;
    }
}

Bytes UnitBytes(const WString& units) {
    Bytes bytes(units.size() * sizeof(WCHAR));
    if (!units.empty()) std::memcpy(bytes.data(), units.data(), bytes.size());
    return bytes;
}

}  // namespace KestraneTest
