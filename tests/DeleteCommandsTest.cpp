// Ids 32 and 64: leaf keys and named values removed through the write whitelist, and
// the different answers for a target that is missing.
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

TEST(DeleteCommands, LeavesAndNamedValuesGoAndAMissingTargetHasItsOwnAnswer) {
    ScratchKey key("DeleteCommands");
    key.CreateKey("Leaf");
    key.CreateKey("Parent\\Child");
    key.SetString("Gone", "x");
    key.SetString("Kept", "y");
    LoadedService service;
    const std::string outside = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows";
    ExpectReplies(service.get(), {
        {32, Req::Key(key.Path("Leaf")), Svc::Success, "{\"result\":true}", {}},
        {32, Req::Key(key.Path("Parent")), Svc::GeneralFailure, "{}", {}},  // a key with subkeys stays, silently
        {32, Req::Key(key.Path("Leaf")), Svc::Success, "{\"result\":false}", {"DeleteRegistryKey: Key not found"}},
        {32, Req::Key(key.Path("NoParent\\Leaf")), Svc::Success, "{\"result\":false}",
         {"DeleteRegistryKey: Key not found"}},
        {64, Req::Value(key.Path(), "gone"), Svc::Success, "{\"result\":true}", {}},  // names fold case
        {64, Req::Value(key.Path(), "Gone"), Svc::GeneralFailure, "{}",
         {kServicePrefix + "DeleteRegistryValue failed on function RegQueryValueEx with result 2"}},
        {64, Req::Value(key.Path("Missing"), "Kept"), Svc::OpenKeyFailed, "{}",
         {kServicePrefix + "DeleteRegistryValue failed on function RegOpenKeyEx with result 2"}},
        {64, Req::Value("hkey_local_machine\\SOFTWARE\\QV\\KestraneTest\\DeleteCommands", "Kept"),
         Svc::RootKeyNotFound, "{}",
         {kServicePrefix + "DeleteRegistryValue - unable to get root key from keyPath: hkey_local_machine"}},
        {64, Req::Value(outside, "x"), Svc::NotWhiteListed, "{}",
         {kServicePrefix + "DeleteRegistryValue - unable to get root key from keyPath: " + outside}},
        {32, Req::Key(outside), Svc::NotWhiteListed, "{}",
         {kServicePrefix + "DeleteRegistryKey - unable to get root key from keyPath: " + outside}},
    });
    EXPECT_FALSE(key.KeyExists("Leaf"));
    EXPECT_TRUE(key.KeyExists("Parent\\Child"));
    DWORD type;
    Bytes data;
    EXPECT_FALSE(key.GetValue("Gone", &type, &data));
    EXPECT_TRUE(key.GetValue("Kept", &type, &data));
}
