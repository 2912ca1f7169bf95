// The caller's hive over the emulated platform, where each step of the lookup can be
// made to fail: every failure names its step, and nothing acquired before it leaks.
#ifndef _WIN32

#include "access/KestraneServiceHelper.h"
#include "platform/native/Emulation.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;
using Qv::Corvane::Logging::LogLevel;
using Qv::Corvane::Server::Services::Kestrane::KestraneServiceHelper;

namespace {

const std::string kLine =
    "Qv::Corvane::Server::Services::Kestrane::KestraneServiceHelper.OpenCurrentUserRegKey failed on function ";

constexpr DWORD kClientPid = 4242;
const std::u16string kClientSid = u"S-1-5-21-7-7-7-1001";

// A client of another user than the host's, calling on this thread.
class CallerHive : public ::testing::Test {
protected:
    void SetUp() override {
        KestraneEmu::ResetRegistry();
        KestraneEmu::AddProcess(kClientPid, kClientSid);
        HKEY hive = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, kClientSid.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(hive);
        KestraneEmu::SetRpcClientPid(kClientPid);
    }
    void TearDown() override {
        KestraneEmu::SetRpcClientPid(0);
        KestraneEmu::ClearFaults();
        EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
        EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u);
        EXPECT_EQ(KestraneEmu::LocalAllocCount(), 0u);
        EXPECT_FALSE(KestraneEmu::IsImpersonating());
    }
};

}  // namespace

// The hive is the client's: what a command writes below the current user lands under the
// client's SID, never the host user's, and the reads and deletes find it there.
TEST_F(CallerHive, OpensTheCallersOwnHiveWithTheMaskGivenAndTheCommandsActThere) {
    {
        LogCapture capture;
        const HKEY hive = KestraneServiceHelper::OpenCurrentUserRegKey(KEY_CREATE_SUB_KEY, WIDE("c"));
        ASSERT_NE(hive, nullptr);
        EXPECT_EQ(KestraneEmu::LastOpenAccess(), static_cast<REGSAM>(KEY_CREATE_SUB_KEY));
        RegCloseKey(hive);
        EXPECT_TRUE(capture.Messages().empty());
    }
    LoadedService service;
    const std::string mine = "HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine";
    EXPECT_EQ(Execute(service.get(), 16, Req::Write(mine, "V", REG_DWORD, "7")).text, "{\"result\":true}");
    const std::u16string inHive = kClientSid + u"\\SOFTWARE\\QV\\Mine";
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(RegGetValueW(HKEY_USERS, inHive.c_str(), u"V", RRF_RT_ANY, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    HKEY own = nullptr;  // the host's own user never saw it
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, (std::u16string(KestraneEmu::kDefaultUserSid) + u"\\SOFTWARE\\QV\\Mine").c_str(),
                            0, KEY_READ, &own),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Execute(service.get(), 4, Req::Value(mine, "V")).text,
              "{\"result\":{\"V\":{\"dataType\":4,\"valueData\":7}}}");
    EXPECT_EQ(Execute(service.get(), 64, Req::Value(mine, "V")).text, "{\"result\":true}");
    EXPECT_EQ(Execute(service.get(), 32, Req::Key(mine)).text, "{\"result\":true}");
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, inHive.c_str(), 0, KEY_READ, &own), ERROR_FILE_NOT_FOUND);
}

TEST_F(CallerHive, EachFailingStepLogsItsLabelAndReleasesWhatItHeld) {
    struct Row {
        const char* function;
        int nth;  // which call of it fails
        DWORD error;
        LogLevel level;
        std::string message;
    };
    // GetTokenInformation is called four times: sizing and filling for the process's
    // token, then for the client's, read while impersonating; malloc once for each.
    const Row rows[] = {
        {"I_RpcBindingInqLocalClientPID", 1, 1726, LogLevel::Warning,
         kLine + "RpcServerInqCallAttributes with result 1726"},
        {"OpenProcess", 1, 5, LogLevel::Warning, kLine + "OpenProcess with result 5"},
        {"OpenProcessToken", 1, 5, LogLevel::Warning, kLine + "OpenProcessToken with result 5"},
        {"GetTokenInformation", 1, 6, LogLevel::Warning, kLine + "GetTokenInformation with result 6"},
        {"GetTokenInformation", 2, 1300, LogLevel::Warning, kLine + "GetTokenInformation with result 1300"},
        {"GetTokenInformation", 3, 1300, LogLevel::Warning, kLine + "GetTokenInformation with result 1300"},
        {"GetTokenInformation", 4, 1300, LogLevel::Warning, kLine + "GetTokenInformation with result 1300"},
        {"malloc", 1, 8, LogLevel::Error, kLine + "malloc falied with result 8"},
        {"malloc", 2, 1300, LogLevel::Error, kLine + "malloc falied with result 1300"},
        {"RpcImpersonateClient", 1, 1746, LogLevel::Warning, kLine + "RpcImpersonateClient with result 1746"},
        {"OpenThreadToken", 1, 1008, LogLevel::Warning, kLine + "OpenThreadToken with result 1008"},
        {"ConvertSidToStringSidW", 1, 1337, LogLevel::Warning, kLine + "ConvertSidToStringSid with result 1337"},
        {"RegOpenKeyExW", 1, 5, LogLevel::Warning, kLine + "RegOpenKey with result 5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.function) + " call " + std::to_string(row.nth));
        LogCapture capture;
        KestraneEmu::FailCall(row.function, row.nth, row.error);
        EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("client-7")), nullptr);
        const std::vector<CapturedLog> log = capture.Records();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].message, row.message);
        EXPECT_EQ(log[0].level, row.level);
        EXPECT_EQ(log[0].clientId, "client-7");
        EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u);
        EXPECT_EQ(KestraneEmu::LocalAllocCount(), 0u);
        EXPECT_FALSE(KestraneEmu::IsImpersonating());
        KestraneEmu::ClearFaults();
    }
}

TEST_F(CallerHive, AGoneClientAReusedProcessIdOrAnUnloadedHiveGivesNoRoot) {
    LogCapture capture;
    KestraneEmu::RemoveProcess(kClientPid);
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);

    // The client is gone and its id now names another user's process, whose hive is
    // loaded: the id alone would open it, the client's own identity does not match.
    const std::u16string other = u"S-1-5-21-9-9-9-1002";
    KestraneEmu::AddProcess(kClientPid, other);
    HKEY otherHive = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, other.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &otherHive,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(otherHive);
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);

    // A call of that other user's process itself, whose hive is not loaded (any more).
    ASSERT_EQ(RegDeleteKeyW(HKEY_USERS, other.c_str()), ERROR_SUCCESS);
    KestraneEmu::SetRpcClientPid(kClientPid);
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{kLine + "OpenProcess with result 87",
                                                            kLine + "CallerIdentity with result 5",
                                                            kLine + "RegOpenKey with result 2"}));
}

#endif
