// `kestrane-host secure`: the keys below HKEY_LOCAL_MACHINE that the write whitelist lets
// clients change exist, and no ordinary user can change them, create subkeys or plant links
// below them. What the system and its services were given is theirs and stays. The installer
// runs it as LocalSystem before the service first starts; running it again changes nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Kestrane::Host {

// The DACL a key gets when `secure` creates it: inherited by the subkeys created below.
constexpr const wchar_t* kSecuredKeyDacl = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

// The rights that change a key: values, subkeys, links, deletion, its DACL, its owner.
constexpr ACCESS_MASK kKeyChangeRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// The write whitelist's HKEY_LOCAL_MACHINE entries, as paths below that root.
std::vector<std::wstring> WriteListedMachineKeys();

enum class SecureResult { Created, Narrowed, AlreadySecure, Failed };

// One run of `secure` over keys below HKEY_LOCAL_MACHINE (64-bit view), remembering what it
// changed so that a failure later in the run can put the machine back as it was.
class MachineKeySecuring {
public:
    MachineKeySecuring() = default;
    MachineKeySecuring(const MachineKeySecuring&) = delete;
    MachineKeySecuring& operator=(const MachineKeySecuring&) = delete;

    // A missing key is created (with its missing parents) and given kSecuredKeyDacl. An
    // existing key that an ordinary principal owns, or holds a change right on (allow entries
    // that apply to the key itself, generic rights mapped), is narrowed: the DACL, inherited
    // entries included, becomes its own (protected), every allow entry of an ordinary
    // principal loses kKeyChangeRights, and an ordinary owner gives way to Administrators.
    // Any other key is left as it is. A registry link in the key's place is never followed:
    // Failed, with neither it nor its target touched. Each change is logged, old and new
    // SDDL, before it is made. *message says why on Failed.
    SecureResult Secure(const std::wstring& subkey, std::wstring* message);

    // Puts back, last first, the descriptors changed and deletes the keys created by this
    // run (a created key someone has added subkeys to stays). False if any could not be.
    bool RollBack();

private:
    // A missing key and its missing parents, secured; the name the registry gives it checked.
    SecureResult Create(const std::wstring& subkey, std::wstring* message);

    struct Change {
        std::wstring subkey;
        std::vector<BYTE> descriptor;  // self-relative: owner and DACL as they were
    };
    std::vector<Change> changed_;
    std::vector<std::wstring> created_;
};

// The command: every write-listed machine key, one line each. On the first failure the keys
// changed so far are restored; 0 when all are secure.
int SecureWriteListedKeys();

}  // namespace Kestrane::Host
