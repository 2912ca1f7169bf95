#include "host/MachineKeySecurity.h"

#include "access/ScopedHandles.h"
#include "access/ScopedKey.h"
#include "access/WhiteListTables.h"
#include "host/HostLog.h"
#include "platform/NtKeyCalls.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <cwctype>

namespace Kestrane::Host {

namespace {

using Qv::Corvane::Server::Services::Kestrane::ScopedKey;
using Qv::Corvane::Server::Services::Kestrane::WhiteListTables;

constexpr wchar_t kMachinePrefix[] = L"HKEY_LOCAL_MACHINE\\";
// The bytes of a planted link's target read for the failure message.
constexpr DWORD kMaxLinkTargetBytes = 1024;
constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// What `secure` needs of a key to judge it; the rights to change it are asked only when it must.
constexpr REGSAM kJudge = KEY_QUERY_VALUE | READ_CONTROL | KEY_WOW64_64KEY;

using LocalDescriptor = Qv::Corvane::Server::Services::Kestrane::ScopedLocal<PSECURITY_DESCRIPTOR>;
using LocalText = Qv::Corvane::Server::Services::Kestrane::ScopedLocalText;

bool StartsWithFolded(const std::wstring& text, const wchar_t* prefix) {
    for (std::size_t i = 0; prefix[i] != 0; ++i)
        if (i >= text.size() || std::towupper(text[i]) != std::towupper(prefix[i])) return false;
    return true;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && StartsWithFolded(a, b.c_str());
}

std::wstring Sddl(PSECURITY_DESCRIPTOR descriptor) {
    LocalText text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kOwnerAndDacl, text.Put(),
                                                              nullptr))
        return L"(unreadable)";
    return text.Get();
}

std::wstring ErrorText(DWORD error) { return L"error " + std::to_wstring(error); }

// Anyone but SYSTEM, Administrators, LocalService, NetworkService and the service SIDs
// (S-1-5-80-..., TrustedInstaller among them).
bool IsOrdinaryPrincipal(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return true;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(sid, WinLocalServiceSid) || IsWellKnownSid(sid, WinNetworkServiceSid))
        return false;
    const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
    const bool service = std::memcmp(authority, &nt, sizeof nt) == 0 && *GetSidSubAuthorityCount(sid) >= 2 &&
                         *GetSidSubAuthority(sid, 0) == SECURITY_SERVICE_ID_BASE_RID;
    return !service;
}

// The allow entry's SID and mask, or false for entries that do not allow. Allow entries of
// other kinds (object, compound) never appear on keys; they count as granting everything.
bool AllowEntry(void* ace, PSID* sid, ACCESS_MASK* mask, bool* plain) {
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        *sid = &allowed->SidStart;
        *mask = allowed->Mask;
        *plain = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        return true;
    }
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        *sid = nullptr;
        *mask = KEY_ALL_ACCESS;
        *plain = false;
        return true;
    default: return false;
    }
}

ACCESS_MASK MappedKeyRights(ACCESS_MASK mask) {
    GENERIC_MAPPING keyMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    MapGenericMask(&mask, &keyMapping);
    return mask;
}

// An ordinary principal owns the key or may change it (entries that apply to the key itself).
bool IsOpenToOrdinaryUsers(PSID owner, const ACL* dacl) {
    if (owner == nullptr || IsOrdinaryPrincipal(owner)) return true;
    if (dacl == nullptr) return true;  // no DACL: everyone may do everything
    ACL_SIZE_INFORMATION size = {};
    if (!GetAclInformation(const_cast<ACL*>(dacl), &size, sizeof size, AclSizeInformation)) return true;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) return true;
        PSID sid = nullptr;
        ACCESS_MASK mask = 0;
        bool plain = false;
        if (!AllowEntry(ace, &sid, &mask, &plain)) continue;
        if ((static_cast<const ACE_HEADER*>(ace)->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        if ((sid == nullptr || IsOrdinaryPrincipal(sid)) && (MappedKeyRights(mask) & kKeyChangeRights) != 0)
            return true;
    }
    return false;
}

// The key's DACL with every entry kept in order, made explicit, and the allow entries of
// ordinary principals without the change rights (dropped when nothing is left; other
// kinds of allow entries dropped). Empty when the DACL cannot be read as an ACL.
std::vector<BYTE> NarrowedDacl(const ACL* dacl) {
    ACL_SIZE_INFORMATION size = {};
    if (!GetAclInformation(const_cast<ACL*>(dacl), &size, sizeof size, AclSizeInformation)) return {};
    std::vector<BYTE> narrowed(size.AclBytesInUse < sizeof(ACL) ? sizeof(ACL) : size.AclBytesInUse);
    ACL* out = reinterpret_cast<ACL*>(narrowed.data());
    if (!InitializeAcl(out, static_cast<DWORD>(narrowed.size()), dacl->AclRevision)) return {};
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) return {};
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        std::vector<BYTE> copy(static_cast<const BYTE*>(ace), static_cast<const BYTE*>(ace) + header->AceSize);
        reinterpret_cast<ACE_HEADER*>(copy.data())->AceFlags &= static_cast<BYTE>(~INHERITED_ACE);
        PSID sid = nullptr;
        ACCESS_MASK mask = 0;
        bool plain = false;
        if (AllowEntry(copy.data(), &sid, &mask, &plain) && (sid == nullptr || IsOrdinaryPrincipal(sid))) {
            if (!plain) continue;
            auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy.data());
            allowed->Mask = MappedKeyRights(allowed->Mask) & ~kKeyChangeRights;
            if (allowed->Mask == 0) continue;
        }
        if (!AddAce(out, dacl->AclRevision, MAXDWORD, copy.data(), static_cast<DWORD>(copy.size()))) return {};
    }
    return narrowed;
}

// Owner (when given) and DACL in one call, through the key's own descriptor: Wine 8's
// SetSecurityInfo drops SE_DACL_PROTECTED. `protectedDacl` false re-allows inheritance.
DWORD SetOwnerAndDacl(HKEY key, PSID owner, ACL* dacl, bool protectedDacl) {
    SECURITY_DESCRIPTOR descriptor;
    const SECURITY_DESCRIPTOR_CONTROL flag = protectedDacl ? SE_DACL_PROTECTED : 0;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, flag) ||
        (owner != nullptr && !SetSecurityDescriptorOwner(&descriptor, owner, FALSE)))
        return GetLastError();
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION |
                                (protectedDacl ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (owner != nullptr) what |= OWNER_SECURITY_INFORMATION;
    return static_cast<DWORD>(RegSetKeySecurity(key, what, &descriptor));
}

// Through a handle of its own opened for WRITE_OWNER (granted by SeTakeOwnershipPrivilege when
// the DACL does not).
DWORD SetOwner(HKEY key, PSID owner) {
    ScopedKey owning;
    DWORD error = RegOpenKeyExW(key, L"", 0, WRITE_OWNER | KEY_WOW64_64KEY, owning.Address());
    SECURITY_DESCRIPTOR descriptor;
    if (error == ERROR_SUCCESS &&
        (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
         !SetSecurityDescriptorOwner(&descriptor, owner, FALSE)))
        error = GetLastError();
    if (error == ERROR_SUCCESS)
        error = static_cast<DWORD>(RegSetKeySecurity(owning.Get(), OWNER_SECURITY_INFORMATION, &descriptor));
    return error;
}

// SYSTEM holds these without all of them enabled: taking ownership of a key whose DACL does
// not let it, and giving a key back an owner other than itself on a rollback.
void EnableOwnershipPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    for (const wchar_t* name : {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege"}) {
        TOKEN_PRIVILEGES privilege = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, name, &privilege.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privilege, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

// The text of what a link names, for the message that refuses it.
std::wstring LinkValue(HKEY key) {
    wchar_t units[kMaxLinkTargetBytes / sizeof(wchar_t)];
    DWORD type = 0;
    DWORD size = sizeof units;
    if (RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(units), &size) !=
            ERROR_SUCCESS ||
        type != REG_LINK)
        return std::wstring();
    std::wstring text(units, size / sizeof(wchar_t));
    while (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

// A real link in the key's place: opened as itself (`itself`) it holds a link value, and
// opened normally the registry names another key, or none. A plain key holding such a
// value is no link. `leadsTo` gets where it leads.
bool IsRealLink(const std::wstring& subkey, HKEY itself, std::wstring* leadsTo) {
    *leadsTo = LinkValue(itself);
    if (leadsTo->empty()) return false;
    std::wstring own;
    std::wstring reached;
    ScopedKey through;
    if (QueryKeyName(itself, &own) != ERROR_SUCCESS) return true;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, kJudge, through.Address()) != ERROR_SUCCESS ||
        QueryKeyName(through.Get(), &reached) != ERROR_SUCCESS)
        return true;
    return !SameName(own, reached);
}

// The components of a path below HKEY_LOCAL_MACHINE, runs of separators counting as one.
std::vector<std::wstring> Components(const std::wstring& subkey) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t unit : subkey + L"\\") {
        if (unit != L'\\') {
            current += unit;
        } else if (!current.empty()) {
            parts.push_back(current);
            current.clear();
        }
    }
    return parts;
}

std::wstring Joined(const std::vector<std::wstring>& parts, std::size_t count) {
    std::wstring path;
    for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? L"" : L"\\") + parts[i];
    return path;
}

}  // namespace

std::vector<std::wstring> WriteListedMachineKeys() {
    std::vector<std::wstring> keys;
    for (const std::wstring& entry : WhiteListTables::Write())
        if (StartsWithFolded(entry, kMachinePrefix)) keys.push_back(entry.substr(std::size(kMachinePrefix) - 1));
    return keys;
}

SecureResult MachineKeySecuring::Create(const std::wstring& subkey, std::wstring* message) {
    const std::wstring name = kMachinePrefix + subkey;
    ScopedKey key;
    DWORD error = ERROR_SUCCESS;
    LocalDescriptor secured;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecuredKeyDacl, SDDL_REVISION_1, secured.Put(),
                                                              nullptr)) {
        *message = ErrorText(GetLastError());
        return SecureResult::Failed;
    }
    // The deepest key on the way that exists, and its real name: the new keys must be
    // named below it, whatever appears meanwhile (REG_OPTION_OPEN_LINK is not documented
    // for creates, so the name is what is checked).
    const std::vector<std::wstring> parts = Components(subkey);
    std::size_t existing = parts.size() - 1;
    std::wstring expected = L"\\REGISTRY\\MACHINE";
    for (; existing > 0; --existing) {
        ScopedKey ancestor;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Joined(parts, existing).c_str(), 0, kJudge, ancestor.Address()) ==
            ERROR_SUCCESS) {
            if (QueryKeyName(ancestor.Get(), &expected) != ERROR_SUCCESS) {
                *message = L"cannot read the name of " + Joined(parts, existing);
                return SecureResult::Failed;
            }
            break;
        }
    }
    for (std::size_t i = existing; i < parts.size(); ++i) expected += L"\\" + parts[i];
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, secured.Get(), FALSE};
    DWORD disposition = 0;
    error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            kJudge | WRITE_DAC | WRITE_OWNER, &attributes, key.Address(), &disposition);
    if (error != ERROR_SUCCESS) {
        *message = ErrorText(error);
        return SecureResult::Failed;
    }
    std::wstring made;
    if (QueryKeyName(key.Get(), &made) != ERROR_SUCCESS || !SameName(made, expected) ||
        disposition != REG_CREATED_NEW_KEY) {
        // Made anywhere but where asked: it goes again at once (a key that was there stays).
        ScopedKey again;
        if (disposition == REG_CREATED_NEW_KEY &&
            RegOpenKeyExW(key.Get(), L"", 0, DELETE | KEY_WOW64_64KEY, again.Address()) == ERROR_SUCCESS)
            DeleteOpenedKey(again.Get());
        *message = L"the registry gave it as " + made + L" (something appeared there meanwhile); nothing was "
                   L"changed there";
        return SecureResult::Failed;
    }
    for (std::size_t i = existing; i < parts.size(); ++i) created_.push_back(Joined(parts, i + 1));
    // Owned by Administrators, whatever the creator's default owner, and the DACL once
    // more through the key: Wine 8 ignores the one given at creation.
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* dacl = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    LogInfo((L"KestraneHost: created " + name + L", setting its descriptor to O:BA" + kSecuredKeyDacl).c_str());
    if (!GetSecurityDescriptorDacl(secured.Get(), &present, &dacl, &defaulted) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize))
        error = GetLastError();
    else error = SetOwnerAndDacl(key.Get(), administrators, dacl, true);
    if (error != ERROR_SUCCESS) {
        *message = ErrorText(error);
        return SecureResult::Failed;
    }
    return SecureResult::Created;
}

SecureResult MachineKeySecuring::Secure(const std::wstring& subkey, std::wstring* message) {
    const std::wstring name = kMachinePrefix + subkey;
    ScopedKey key;
    // As itself: a link in the key's place is opened, not followed (documented for opens).
    DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), REG_OPTION_OPEN_LINK, kJudge, key.Address());
    if (error == ERROR_FILE_NOT_FOUND) return Create(subkey, message);
    if (error != ERROR_SUCCESS) {
        *message = ErrorText(error);
        return SecureResult::Failed;
    }
    std::wstring leadsTo;
    if (IsRealLink(subkey, key.Get(), &leadsTo)) {
        *message = L"it is a registry link to " + leadsTo +
                   L"; secure follows no link and changed neither it nor its target: remove the link and run "
                   L"secure again";
        return SecureResult::Failed;
    }

    LocalDescriptor current;
    PSID owner = nullptr;
    ACL* dacl = nullptr;
    error = GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, kOwnerAndDacl, &owner, nullptr, &dacl, nullptr, current.Put());
    if (error != ERROR_SUCCESS) {
        *message = ErrorText(error);
        return SecureResult::Failed;
    }
    if (!IsOpenToOrdinaryUsers(owner, dacl)) return SecureResult::AlreadySecure;

    // The owner may always rewrite the DACL, so an ordinary one gives way to Administrators.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    const bool newOwner = owner == nullptr || IsOrdinaryPrincipal(owner);
    if (newOwner && !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        *message = ErrorText(GetLastError());
        return SecureResult::Failed;
    }
    // No DACL at all lets everyone do everything: nothing of it is worth keeping.
    LocalDescriptor securedKey;
    ACL* fresh = nullptr;
    std::vector<BYTE> narrowed;
    if (dacl == nullptr) {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecuredKeyDacl, SDDL_REVISION_1, securedKey.Put(),
                                                                  nullptr) ||
            !GetSecurityDescriptorDacl(securedKey.Get(), &present, &fresh, &defaulted)) {
            *message = ErrorText(GetLastError());
            return SecureResult::Failed;
        }
    } else {
        narrowed = NarrowedDacl(dacl);
        if (narrowed.empty()) {
            *message = ErrorText(ERROR_INVALID_ACL);
            return SecureResult::Failed;
        }
        fresh = reinterpret_cast<ACL*>(narrowed.data());
    }

    // Logged before it is made, the old descriptor kept for a rollback.
    SECURITY_DESCRIPTOR planned;
    InitializeSecurityDescriptor(&planned, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&planned, newOwner ? administrators : owner, FALSE);
    SetSecurityDescriptorDacl(&planned, TRUE, fresh, FALSE);
    SetSecurityDescriptorControl(&planned, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    LogInfo((L"KestraneHost: narrowing " + name + L" from " + Sddl(current.Get()) + L" to " + Sddl(&planned)).c_str());
    const auto* bytes = static_cast<const BYTE*>(current.Get());
    changed_.push_back({subkey, std::vector<BYTE>(bytes, bytes + GetSecurityDescriptorLength(current.Get()))});

    // The owner first: a key whose DACL does not let SYSTEM change it is still its owner's to
    // change, and Administrators (SYSTEM among them) own it then.
    if (newOwner) error = SetOwner(key.Get(), administrators);
    ScopedKey writable;
    if (error == ERROR_SUCCESS)
        error = RegOpenKeyExW(key.Get(), L"", 0, WRITE_DAC | KEY_WOW64_64KEY, writable.Address());
    if (error == ERROR_SUCCESS) error = SetOwnerAndDacl(writable.Get(), nullptr, fresh, true);
    if (error != ERROR_SUCCESS) {
        *message = ErrorText(error);
        return SecureResult::Failed;
    }
    return SecureResult::Narrowed;
}

bool MachineKeySecuring::RollBack() {
    bool all = true;
    for (auto change = changed_.rbegin(); change != changed_.rend(); ++change) {
        auto* old = reinterpret_cast<PSECURITY_DESCRIPTOR>(change->descriptor.data());
        PSID owner = nullptr;
        ACL* dacl = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ScopedKey key;
        DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, change->subkey.c_str(), REG_OPTION_OPEN_LINK,
                                    WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, key.Address());
        if (error == ERROR_SUCCESS &&
            (!GetSecurityDescriptorOwner(old, &owner, &defaulted) ||
             !GetSecurityDescriptorDacl(old, &present, &dacl, &defaulted) ||
             !GetSecurityDescriptorControl(old, &control, &revision)))
            error = GetLastError();
        if (error == ERROR_SUCCESS) error = SetOwnerAndDacl(key.Get(), owner, dacl, (control & SE_DACL_PROTECTED) != 0);
        const std::wstring line = L"KestraneHost: " + std::wstring(error == ERROR_SUCCESS ? L"restored " : L"cannot restore ") +
                                  kMachinePrefix + change->subkey + L" to " + Sddl(old);
        error == ERROR_SUCCESS ? LogInfo(line.c_str()) : LogError(line.c_str());
        all = all && error == ERROR_SUCCESS;
    }
    changed_.clear();
    for (auto made = created_.rbegin(); made != created_.rend(); ++made) {
        ScopedKey key;
        DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, made->c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_WOW64_64KEY,
                                    key.Address());
        if (error == ERROR_SUCCESS) error = static_cast<DWORD>(DeleteOpenedKey(key.Get()));
        const std::wstring line = L"KestraneHost: " + std::wstring(error == ERROR_SUCCESS ? L"removed " : L"cannot remove ") +
                                  kMachinePrefix + *made + L", created by this run";
        error == ERROR_SUCCESS ? LogInfo(line.c_str()) : LogError(line.c_str());
        all = all && error == ERROR_SUCCESS;
    }
    created_.clear();
    return all;
}

int SecureWriteListedKeys() {
    EnableOwnershipPrivileges();
    MachineKeySecuring run;
    for (const std::wstring& subkey : WriteListedMachineKeys()) {
        std::wstring message;
        const SecureResult result = run.Secure(subkey, &message);
        const std::wstring name = std::wstring(kMachinePrefix) + subkey;
        std::wstring line;
        switch (result) {
        case SecureResult::Created: line = L"created and secured " + name; break;
        case SecureResult::Narrowed: line = L"secured " + name; break;
        case SecureResult::AlreadySecure: line = L"already secure: " + name; break;
        case SecureResult::Failed: line = L"cannot secure " + name + L": " + message; break;
        }
        const bool ok = result != SecureResult::Failed;
        std::fwprintf(ok ? stdout : stderr, L"kestrane-host: %ls\n", line.c_str());
        line = L"KestraneHost: " + line;
        ok ? LogInfo(line.c_str()) : LogError(line.c_str());
        if (!ok) {
            const bool restored = run.RollBack();
            std::fwprintf(stderr, L"kestrane-host: %ls\n",
                          restored ? L"the keys this run changed are as they were"
                                   : L"some keys this run changed could not be put back (see the log)");
            return 1;
        }
    }
    return 0;
}

}  // namespace Kestrane::Host
