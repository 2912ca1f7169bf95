// Ids 32 and 64: leaf keys and named values removed through the write whitelist, and
// the different answers for a target that is missing.
#include "tests/JsonText.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;
using Qv::Corvane::Logging::LogLevel;

namespace {

const std::string kService = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

std::string KeyOnly(const std::string& path) { return "{\"keyPath\":" + Quote(path) + "}"; }

std::string Named(const std::string& path, const std::string& name) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) + "}";
}

}  // namespace

TEST(DeleteCommands, KeyDeleteRemovesLeavesOnlyAndReportsAMissingKeyAsFalse) {
    ScratchKey key("DeleteKeys");
    key.CreateKey("Leaf");
    key.CreateKey("Parent\\Child");
    LoadedService service;

    {
        LogCapture capture;
        const Reply deleted = Execute(service.get(), 32, KeyOnly(key.Path("Leaf")));
        EXPECT_EQ(deleted.status, Svc::Success);
        EXPECT_EQ(deleted.text, "{\"result\":true}");
        EXPECT_FALSE(key.KeyExists("Leaf"));
        EXPECT_TRUE(capture.Messages().empty());
    }
    {
        // A key with subkeys stays, silently.
        LogCapture capture;
        const Reply refused = Execute(service.get(), 32, KeyOnly(key.Path("Parent")));
        EXPECT_EQ(refused.status, Svc::GeneralFailure);
        EXPECT_EQ(refused.text, "{}");
        EXPECT_TRUE(key.KeyExists("Parent\\Child"));
        EXPECT_TRUE(capture.Messages().empty());
    }
    for (const std::string& missing : {key.Path("Leaf"), key.Path("NoParent\\Leaf")}) {
        LogCapture capture;
        const Reply reply = Execute(service.get(), 32, KeyOnly(missing));
        EXPECT_EQ(reply.status, Svc::Success) << missing;
        EXPECT_EQ(reply.text, "{\"result\":false}") << missing;
        const std::vector<CapturedLog> log = capture.Records();
        ASSERT_EQ(log.size(), 1u) << missing;
        EXPECT_EQ(log[0].message, "DeleteRegistryKey: Key not found");
        EXPECT_EQ(log[0].level, LogLevel::Info);
    }
}

TEST(DeleteCommands, ValueDeleteNeedsTheKeyAndTheValue) {
    ScratchKey key("DeleteValues");
    key.SetString("Gone", "x");
    key.SetString("Kept", "y");
    LoadedService service;
    LogCapture capture;

    const Reply deleted = Execute(service.get(), 64, Named(key.Path(), "gone"));  // names fold case
    EXPECT_EQ(deleted.status, Svc::Success);
    EXPECT_EQ(deleted.text, "{\"result\":true}");
    DWORD type;
    Bytes data;
    EXPECT_FALSE(key.GetValue("Gone", &type, &data));
    EXPECT_TRUE(key.GetValue("Kept", &type, &data));
    EXPECT_TRUE(capture.Messages().empty());

    struct Row {
        std::string request;
        uint32_t status;
        std::string log;
    };
    const Row rows[] = {
        {Named(key.Path(), "Gone"), Svc::GeneralFailure,
         kService + "DeleteRegistryValue failed on function RegQueryValueEx with result 2"},
        {Named(key.Path("Missing"), "Kept"), Svc::OpenKeyFailed,
         kService + "DeleteRegistryValue failed on function RegOpenKeyEx with result 2"},
        {Named("hkey_local_machine\\SOFTWARE\\QV\\KestraneTest\\DeleteValues", "Kept"), Svc::RootKeyNotFound,
         kService + "DeleteRegistryValue - unable to get root key from keyPath: hkey_local_machine"},
        {Named("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows", "x"), Svc::NotWhiteListed,
         kService + "DeleteRegistryValue - unable to get root key from keyPath: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"},
        {KeyOnly("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"), Svc::NotWhiteListed,
         kService + "DeleteRegistryKey - unable to get root key from keyPath: HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"},
    };
    for (const Row& row : rows) {
        capture.Clear();
        const int32_t id = row.request.find("regKeyValueName") == std::string::npos ? 32 : 64;
        const Reply reply = Execute(service.get(), id, row.request);
        EXPECT_EQ(reply.status, row.status) << row.request;
        EXPECT_EQ(reply.text, "{}") << row.request;
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{row.log}) << row.request;
    }
    EXPECT_TRUE(key.GetValue("Kept", &type, &data));
}

TEST(DeleteCommands, AnExemptingPolicyDeletesOutsideTheWhiteList) {
    ScratchKey key("DeletePolicy");
    HKEY made = nullptr;
    const WString outside = W("SOFTWARE\\Microsoft\\KestraneDeleteTest");
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, outside.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    LoadedService service;
    const std::string path = "HKEY_LOCAL_MACHINE\\" + U8(outside);
    FixedPolicy no(false);
    EXPECT_EQ(Execute(service.get(), 32, KeyOnly(path), &no).status, Svc::NotWhiteListed);
    FixedPolicy yes(true);
    EXPECT_EQ(Execute(service.get(), 32, KeyOnly(path), &yes).text, "{\"result\":true}");
    EXPECT_EQ(Execute(service.get(), 0, KeyOnly(path)).text, "{\"result\":false}");
}
