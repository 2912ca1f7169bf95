// kestrane-host secure on keys of the test's own: a missing key is created secured, an
// existing one is narrowed and never widened, a link is secured with its target. Wine stores
// ACLs but does not enforce them, so what is checked is how they read back.
#include "host/MachineKeySecurity.h"
#include "tests/RegistryFixture.h"

#include <aclapi.h>
#include <sddl.h>

using namespace KestraneTest;
using Kestrane::Host::SecureMachineKey;
using Kestrane::Host::SecureResult;

namespace {

std::wstring Sddl(const std::wstring& subkey, SECURITY_INFORMATION what) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"(cannot open)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    std::wstring result = L"(cannot read)";
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, what, nullptr, nullptr, nullptr, nullptr, &descriptor) ==
            ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, what, &text, nullptr)) {
        result = text;
    }
    LocalFree(text);
    LocalFree(descriptor);
    RegCloseKey(key);
    return result;
}

void SetSddl(const std::wstring& subkey, const wchar_t* sddl) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
    LocalFree(descriptor);
    RegCloseKey(key);
}

constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

TEST(MachineKeySecurity, CreatesSecuredNarrowsExistingAndLinkTargets) {
    ScratchKey scratch("Secure");
    DWORD error = 0;

    // A missing key, with a missing parent: SYSTEM and Administrators full, users read,
    // nothing inherited from above; the same again on a second run.
    const std::wstring created = scratch.SubKey("New\\Key");
    for (const SecureResult expected : {SecureResult::Created, SecureResult::Tightened}) {
        EXPECT_EQ(SecureMachineKey(created, &error), expected) << error;
        EXPECT_EQ(Sddl(created, DACL_SECURITY_INFORMATION), L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)");
    }

    // A key that everyone could change, owned by Users: the grants of everyone but SYSTEM
    // and Administrators keep only their read rights (generic ones mapped first; KW keeps
    // its read-control right), the deny entry stays, the order stays, and Administrators
    // become the owner.
    scratch.CreateKey("Open");
    const std::wstring open = scratch.SubKey("Open");
    SetSddl(open, L"O:BUD:(A;CI;KA;;;WD)(D;;KW;;;AN)(A;;KA;;;SY)(A;;GA;;;BU)(A;;KW;;;IU)(A;CIIO;KA;;;CO)");
    EXPECT_EQ(SecureMachineKey(open, &error), SecureResult::Tightened) << error;
    EXPECT_EQ(Sddl(open, kOwnerAndDacl),
              L"O:BAD:P(A;CI;KR;;;WD)(D;;KW;;;AN)(A;;KA;;;SY)(A;;KR;;;BU)(A;;RC;;;IU)(A;CIIO;KR;;;CO)");

    // A link in the listed place (as Windows' own Printers link) is secured, and so is the key
    // it leads to. (Links are volatile and ScratchKey cannot remove one, so each run names its own.)
    scratch.CreateKey("Target");
    const std::wstring target = scratch.SubKey("Target");
    SetSddl(target, L"O:BUD:(A;;KA;;;WD)(A;;KA;;;SY)");
    const std::wstring linkName = scratch.SubKey("Link" + std::to_string(GetCurrentProcessId()));
    HKEY link = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, linkName.c_str(), 0, nullptr,
                              REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                              &link, nullptr),
              ERROR_SUCCESS);
    const std::wstring linkTarget = L"\\Registry\\Machine\\" + target;
    EXPECT_EQ(RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(linkTarget.c_str()),
                             static_cast<DWORD>(linkTarget.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(link);
    EXPECT_EQ(SecureMachineKey(linkName, &error), SecureResult::LinkAndTarget) << error;
    EXPECT_EQ(Sddl(target, kOwnerAndDacl), L"O:BAD:P(A;;KR;;;WD)(A;;KA;;;SY)");
}
