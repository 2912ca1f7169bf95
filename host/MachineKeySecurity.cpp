#include "host/MachineKeySecurity.h"

#include "access/ScopedHandles.h"
#include "access/ScopedKey.h"
#include "access/WhiteListTables.h"
#include "host/HostLog.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwctype>

namespace Kestrane::Host {

namespace {

using Qv::Corvane::Server::Services::Kestrane::ScopedKey;
using Qv::Corvane::Server::Services::Kestrane::WhiteListTables;

constexpr wchar_t kMachinePrefix[] = L"HKEY_LOCAL_MACHINE\\";

using LocalDescriptor = Qv::Corvane::Server::Services::Kestrane::ScopedLocal<PSECURITY_DESCRIPTOR>;

bool StartsWithFolded(const std::wstring& text, const wchar_t* prefix) {
    for (std::size_t i = 0; prefix[i] != 0; ++i)
        if (i >= text.size() || std::towupper(text[i]) != std::towupper(prefix[i])) return false;
    return true;
}

bool IsTrusted(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// The key's DACL with every entry kept in order, made explicit, and the allow entries of
// anyone but SYSTEM and Administrators without the change rights (dropped when nothing
// is left). Allow entries of other kinds (callback, object, compound) are dropped: they
// could only grant. Empty when the DACL cannot be read as an ACL.
std::vector<BYTE> NarrowedDacl(const ACL* dacl) {
    ACL_SIZE_INFORMATION size = {};
    if (!GetAclInformation(const_cast<ACL*>(dacl), &size, sizeof size, AclSizeInformation)) return {};
    std::vector<BYTE> narrowed(size.AclBytesInUse < sizeof(ACL) ? sizeof(ACL) : size.AclBytesInUse);
    ACL* out = reinterpret_cast<ACL*>(narrowed.data());
    if (!InitializeAcl(out, static_cast<DWORD>(narrowed.size()), dacl->AclRevision)) return {};
    GENERIC_MAPPING keyMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) return {};
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        std::vector<BYTE> copy(static_cast<const BYTE*>(ace), static_cast<const BYTE*>(ace) + header->AceSize);
        auto* entry = reinterpret_cast<ACE_HEADER*>(copy.data());
        entry->AceFlags &= static_cast<BYTE>(~INHERITED_ACE);
        const BYTE type = entry->AceType;
        if (type == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy.data());
            if (!IsTrusted(&allowed->SidStart)) {
                MapGenericMask(&allowed->Mask, &keyMapping);
                allowed->Mask &= ~kKeyChangeRights;
                if (allowed->Mask == 0) continue;
            }
        } else if (type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                   type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
            continue;
        }
        if (!AddAce(out, dacl->AclRevision, MAXDWORD, copy.data(), static_cast<DWORD>(copy.size()))) return {};
    }
    return narrowed;
}

// The DACL, protected from what the parent would pass down. Set through the key's own
// descriptor: Wine 8's SetSecurityInfo did not keep the protection.
DWORD SetProtectedDacl(HKEY key, ACL* dacl) {
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return GetLastError();
    return static_cast<DWORD>(
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, &descriptor));
}

DWORD ApplyNewKeyDacl(HKEY key, PSECURITY_DESCRIPTOR wanted) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* dacl = nullptr;
    if (!GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted)) return GetLastError();
    return SetProtectedDacl(key, dacl);
}

DWORD NarrowExistingKey(HKEY key, PSECURITY_DESCRIPTOR securedKey) {
    LocalDescriptor current;
    PSID owner = nullptr;
    ACL* dacl = nullptr;
    DWORD error = GetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, current.Put());
    if (error != ERROR_SUCCESS) return error;
    if (owner != nullptr && !IsTrusted(owner)) {
        // The owner may always rewrite the DACL, so it must be one of the two as well. Set
        // before the DACL: Wine's SetSecurityInfo writes the descriptor back unprotected.
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof administrators;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
            return GetLastError();
        error = SetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, administrators, nullptr, nullptr,
                                nullptr);
        if (error != ERROR_SUCCESS) return error;
    }
    // No DACL at all lets everyone do everything: nothing of it is worth keeping.
    if (dacl == nullptr) return ApplyNewKeyDacl(key, securedKey);
    std::vector<BYTE> narrowed = NarrowedDacl(dacl);
    if (narrowed.empty()) return ERROR_INVALID_ACL;
    return SetProtectedDacl(key, reinterpret_cast<ACL*>(narrowed.data()));
}

}  // namespace

std::vector<std::wstring> WriteListedMachineKeys() {
    std::vector<std::wstring> keys;
    for (const std::wstring& entry : WhiteListTables::Write())
        if (StartsWithFolded(entry, kMachinePrefix)) keys.push_back(entry.substr(std::size(kMachinePrefix) - 1));
    return keys;
}

SecureResult SecureMachineKey(const std::wstring& subkey, DWORD* error) {
    LocalDescriptor securedKey;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecuredKeyDacl, SDDL_REVISION_1, securedKey.Put(),
                                                              nullptr)) {
        *error = GetLastError();
        return SecureResult::Failed;
    }
    // A missing key is created with its DACL, so it never exists with a looser one.
    // REG_OPTION_OPEN_LINK: a link in the last place is opened as itself, not followed.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, securedKey.Get(), FALSE};
    ScopedKey key;
    DWORD disposition = 0;
    *error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_OPEN_LINK,
                             KEY_QUERY_VALUE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &attributes,
                             key.Address(), &disposition);
    if (*error != ERROR_SUCCESS) return SecureResult::Failed;
    if (disposition == REG_CREATED_NEW_KEY) {
        // And set once more through the key: Wine 8 ignores the descriptor given at
        // creation (the key gets its default, Administrators and Users only).
        *error = ApplyNewKeyDacl(key.Get(), securedKey.Get());
        return *error == ERROR_SUCCESS ? SecureResult::Created : SecureResult::Failed;
    }
    if (IsLink(key.Get())) {
        // Only SYSTEM and Administrators can make a link in a listed machine place, so this one
        // is the system's or theirs: both ends are what clients reach, and both are narrowed.
        *error = NarrowExistingKey(key.Get(), securedKey.Get());
        if (*error != ERROR_SUCCESS) return SecureResult::Failed;
        ScopedKey target;
        *error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0,
                               READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, target.Address());
        if (*error != ERROR_SUCCESS) return SecureResult::Failed;
        *error = NarrowExistingKey(target.Get(), securedKey.Get());
        return *error == ERROR_SUCCESS ? SecureResult::LinkAndTarget : SecureResult::Failed;
    }
    *error = NarrowExistingKey(key.Get(), securedKey.Get());
    return *error == ERROR_SUCCESS ? SecureResult::Tightened : SecureResult::Failed;
}

int SecureWriteListedKeys() {
    int failures = 0;
    for (const std::wstring& subkey : WriteListedMachineKeys()) {
        DWORD error = 0;
        const SecureResult result = SecureMachineKey(subkey, &error);
        const std::wstring name = std::wstring(kMachinePrefix) + subkey;
        std::wstring line;
        switch (result) {
        case SecureResult::Created: line = L"created and secured " + name; break;
        case SecureResult::Tightened: line = L"secured " + name; break;
        case SecureResult::LinkAndTarget: line = L"secured " + name + L" and the key its link leads to"; break;
        case SecureResult::Failed: line = L"cannot secure " + name + L" (error " + std::to_wstring(error) + L")"; break;
        }
        const bool ok = result != SecureResult::Failed;
        if (!ok) ++failures;
        std::fwprintf(ok ? stdout : stderr, L"kestrane-host: %ls\n", line.c_str());
        line = L"KestraneHost: " + line;
        ok ? LogInfo(line.c_str()) : LogError(line.c_str());
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace Kestrane::Host
