// kestrane-host secure on keys of the test's own and on the listed keys a stock Windows has:
// a missing key is created secured, a key ordinary users could change is narrowed, and any other
// key (the system's, its services') stays byte for byte. A planted link, never followed, and the
// run undone behind it are shown where the installer runs it, in the install test.
// Wine checks a key's DACL when it is opened, so a plain user's view is shown through a
// restricted copy of our token (Administrators deny-only); creation rights Wine does not check.
#include "access/ScopedHandles.h"
#include "host/MachineKeySecurity.h"
#include "tests/RegistryFixture.h"

#include <aclapi.h>
#include <sddl.h>

using namespace KestraneTest;
using Kestrane::Host::MachineKeySecuring;
using Kestrane::Host::SecureResult;
using Qv::Corvane::Server::Services::Kestrane::ScopedHandle;

namespace {

// TrustedInstaller's service SID, as stock Windows keys name it.
#define TI L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Gives a key a descriptor through a handle opened before, so that the test can put the old
// one back even when the new one denies it (the handle keeps the rights it was opened with).
class HeldDescriptor {
public:
    HeldDescriptor(const std::wstring& subkey, const wchar_t* sddl) {
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), REG_OPTION_OPEN_LINK,
                                READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &key_),
                  ERROR_SUCCESS)
            << std::string(subkey.begin(), subkey.end());
        DWORD size = 0;
        RegGetKeySecurity(key_, kOwnerAndDacl, nullptr, &size);
        old_.resize(size);
        EXPECT_EQ(RegGetKeySecurity(key_, kOwnerAndDacl, old_.data(), &size), ERROR_SUCCESS);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(RegSetKeySecurity(key_, kOwnerAndDacl, descriptor), ERROR_SUCCESS) << sddl;
        LocalFree(descriptor);
    }
    ~HeldDescriptor() {
        if (!old_.empty()) RegSetKeySecurity(key_, kOwnerAndDacl, old_.data());
        RegCloseKey(key_);
    }
    HeldDescriptor(const HeldDescriptor&) = delete;
    HeldDescriptor& operator=(const HeldDescriptor&) = delete;

private:
    HKEY key_ = nullptr;
    std::vector<BYTE> old_;
};

// Opens the key as a plain user would: on this thread, impersonating our token with
// Administrators deny-only.
LSTATUS OpenAsPlainUser(const std::wstring& subkey, REGSAM rights) {
    ScopedHandle process, restricted, token;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.Put()) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    SID_AND_ATTRIBUTES denyOnly[] = {{admins, 0}};
    EXPECT_TRUE(CreateRestrictedToken(process.Get(), 0, 1, denyOnly, 0, nullptr, 0, nullptr, restricted.Put()) &&
                DuplicateToken(restricted.Get(), SecurityImpersonation, token.Put()) &&
                SetThreadToken(nullptr, token.Get()));
    HKEY key = nullptr;
    const LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, rights | KEY_WOW64_64KEY, &key);
    SetThreadToken(nullptr, nullptr);
    if (key) RegCloseKey(key);
    return result;
}

}  // namespace

TEST(MachineKeySecurity, NarrowsOnlyWhatOrdinaryUsersCouldChange) {
    ScratchKey scratch("Secure");
    MachineKeySecuring run;
    std::wstring message;

    // A missing key, with a missing parent: SYSTEM and Administrators full, users read, nothing
    // inherited from above; a second run finds it secure.
    const std::wstring created = scratch.SubKey("New\\Key");
    EXPECT_EQ(run.Secure(created, &message), SecureResult::Created) << std::string(message.begin(), message.end());
    EXPECT_EQ(run.Secure(created, &message), SecureResult::AlreadySecure);
    EXPECT_EQ(KeySddl(created), L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)");

    // Owned by Users, changeable by everyone: ordinary grants keep their read rights (generic
    // ones mapped first; KW keeps its read-control right, an inherit-only grant is narrowed
    // too), deny entries, order, SYSTEM's, TrustedInstaller's and the service accounts' rights
    // stay, and Administrators become the owner. Before, a plain user could set values there.
    scratch.CreateKey("Open");
    const std::wstring open = scratch.SubKey("Open");
    const HeldDescriptor heldOpen(open, L"O:BUD:(A;CI;KA;;;WD)(D;;KW;;;AN)(A;;KA;;;SY)(A;;GA;;;BU)(A;;KW;;;IU)"
                                        L"(A;CIIO;KA;;;CO)(A;;KA;;;" TI L")(A;;KA;;;LS)(A;;KA;;;NS)");
    EXPECT_EQ(OpenAsPlainUser(open, KEY_SET_VALUE), ERROR_SUCCESS);
    EXPECT_EQ(run.Secure(open, &message), SecureResult::Narrowed);
    EXPECT_EQ(KeySddl(open), L"O:BAD:P(A;CI;KR;;;WD)(D;;KW;;;AN)(A;;KA;;;SY)(A;;KR;;;BU)(A;;RC;;;IU)(A;CIIO;KR;;;CO)"
                          L"(A;;KA;;;" TI L")(A;;KA;;;LS)(A;;KA;;;NS)");
    for (const REGSAM change : {REGSAM{KEY_SET_VALUE}, REGSAM{WRITE_DAC}, REGSAM{WRITE_OWNER}})
        EXPECT_EQ(OpenAsPlainUser(open, change), ERROR_ACCESS_DENIED) << change;
    EXPECT_EQ(OpenAsPlainUser(open, KEY_READ), ERROR_SUCCESS);

    // Keys nobody ordinary can change stay byte for byte: the system's and its services'
    // (an inherit-only grant to CREATOR OWNER gives nothing on the key itself), and the listed
    // keys a stock Windows has, with representative descriptors of such keys.
    scratch.CreateKey("System");
    struct Kept {
        std::wstring subkey;
        const wchar_t* sddl;
    };
    const Kept kept[] = {
        {scratch.SubKey("System"), L"O:" TI L"D:P(A;CI;KA;;;" TI L")(A;CI;KR;;;SY)(A;CI;KR;;;BA)(A;CI;KR;;;BU)"
                                   L"(A;CI;KA;;;NS)(A;CI;KA;;;LS)(A;CIIO;GA;;;CO)"},
        {L"SYSTEM\\CurrentControlSet\\Enum", L"O:SYD:P(A;CI;KA;;;SY)(A;CI;KR;;;BA)(A;CI;KR;;;WD)"},
        {L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers",
         L"O:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CIIO;GA;;;CO)(A;CI;KR;;;AC)"},
    };
    for (const Kept& key : kept) {
        const HeldDescriptor held(key.subkey, key.sddl);
        const std::wstring before = KeySddl(key.subkey);
        EXPECT_EQ(run.Secure(key.subkey, &message), SecureResult::AlreadySecure)
            << std::string(message.begin(), message.end());
        EXPECT_EQ(KeySddl(key.subkey), before);
    }
}
