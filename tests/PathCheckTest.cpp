// Function id 0 end to end through the host contract: whether a key opens, with no
// whitelist, and every key it opened closed again.
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

Reply Check(const LoadedService& service, const std::string& keyPath) {
    return Execute(service.get(), 0, "{\"keyPath\":" + Quote(keyPath) + "}");
}

const std::string kServiceLine = "Qv::Corvane::Server::Services::Kestrane::KestraneService.CheckRegistryPathExists - ";

}  // namespace

TEST(PathCheck, AnswersWhetherTheKeyOpens) {
    ScratchKey scratch("PathCheck");
    scratch.CreateKey("Present\\Deeper");
    LoadedService service;
    LogCapture capture;

    struct Row {
        std::string path;
        bool exists;
    };
    const Row rows[] = {
        {scratch.Path("Present"), true},
        {scratch.Path("Present\\Deeper"), true},
        {scratch.Path("present\\DEEPER"), true},  // the registry folds case, the root name does not
        {scratch.Path("Missing"), false},
        {scratch.Path("Missing\\Deeper"), false},
        {"HKEY_LOCAL_MACHINE", true},             // the root itself
        {"HKEY_LOCAL_MACHINE\\SYSTEM", true},     // in neither whitelist: still answered
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000", true},  // the one user Wine runs everything as
        // the second backslash stays in the subkey, which the registry refuses
        {"HKEY_LOCAL_MACHINE\\\\SOFTWARE", false},
    };
    for (const Row& row : rows) {
        const Reply reply = Check(service, row.path);
        EXPECT_EQ(reply.status, Svc::Success) << row.path;
        EXPECT_EQ(reply.text, row.exists ? "{\"result\":true}" : "{\"result\":false}") << row.path;
    }
    EXPECT_TRUE(capture.Messages().empty());  // a key that does not open is an answer, not a failure
}

TEST(PathCheck, AnUnknownRootIsRefusedWithTheRootNameInTheWarning) {
    LoadedService service;
    LogCapture capture;
    const Reply lower = Check(service, "hkey_local_machine\\SOFTWARE\\QV");
    EXPECT_EQ(lower.status, Svc::RootKeyNotFound);
    EXPECT_EQ(lower.text, "{}");
    const Reply slash = Check(service, "HKEY_LOCAL_MACHINE/SOFTWARE");
    EXPECT_EQ(slash.status, Svc::RootKeyNotFound);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                      kServiceLine + "unable to get root key from keyPath: hkey_local_machine",
                                      kServiceLine + "unable to get root key from keyPath: HKEY_LOCAL_MACHINE/SOFTWARE",
                                  }));
}

TEST(PathCheck, TheCurrentUserRootNeedsACaller) {
    // The test thread serves no RPC call, so there is no caller whose hive to open.
    LoadedService service;
    LogCapture capture;
    const Reply reply = Check(service, "HKEY_CURRENT_USER\\SOFTWARE");
    EXPECT_EQ(reply.status, Svc::RootKeyNotFound);
    EXPECT_EQ(reply.text, "{}");
    const std::vector<std::string> log = capture.Messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("OpenCurrentUserRegKey failed on function RpcServerInqCallAttributes with result 1725"),
              std::string::npos);
    EXPECT_EQ(log[1], kServiceLine + "unable to get root key from keyPath: HKEY_CURRENT_USER");
}
