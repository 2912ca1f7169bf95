// `kestrane-host secure`: the keys below HKEY_LOCAL_MACHINE that the write whitelist lets
// clients change exist, and nobody but SYSTEM and Administrators can change them, create
// subkeys or plant links below them. Users keep read access. The installer runs it as
// LocalSystem before the service first starts; running it again changes nothing.
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

enum class SecureResult { Created, Tightened, LinkAndTarget, Failed };

// Secures one key below HKEY_LOCAL_MACHINE (64-bit view). A missing key is created with
// kSecuredKeyDacl. An existing key is only ever narrowed, never widened: its DACL, inherited
// entries included, becomes its own (protected), and every allow entry for anyone but SYSTEM
// and Administrators loses kKeyChangeRights; deny entries and those two stay as they were. An
// owner other than those two becomes Administrators. A key that is itself a registry link (as
// Windows' own ...\Print\Printers, which leads into CurrentControlSet) is narrowed as a link,
// so that no one else can point it elsewhere, and so is the key it leads to, which is what
// clients reach through it. *error is the Win32 error of a failing step.
SecureResult SecureMachineKey(const std::wstring& subkey, DWORD* error);

// The command: every write-listed machine key, one line each; 0 when all are secured.
int SecureWriteListedKeys();

}  // namespace Kestrane::Host
