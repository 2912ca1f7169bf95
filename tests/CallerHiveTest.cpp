// The caller's hive over the emulated platform, where each step of the lookup can be
// made to fail: every failure names its step, and nothing acquired before it leaks.
#ifndef _WIN32

#include "access/KestraneServiceHelper.h"
#include "platform/native/Emulation.h"
#include "tests/RegistryFixture.h"

#include <unistd.h>

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
    }
};

}  // namespace

TEST_F(CallerHive, OpensTheCallersOwnHiveWithTheMaskGiven) {
    LogCapture capture;
    const HKEY hive = KestraneServiceHelper::OpenCurrentUserRegKey(KEY_CREATE_SUB_KEY, WIDE("c"));
    ASSERT_NE(hive, nullptr);
    EXPECT_EQ(KestraneEmu::LastOpenAccess(), static_cast<REGSAM>(KEY_CREATE_SUB_KEY));
    // The hive is the client's: a key made through it appears under its SID.
    HKEY made = nullptr;
    ASSERT_EQ(RegCreateKeyExW(hive, u"Marker", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    RegCloseKey(hive);
    HKEY found = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, (kClientSid + u"\\Marker").c_str(), 0, KEY_READ, &found), ERROR_SUCCESS);
    RegCloseKey(found);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST_F(CallerHive, EachFailingStepLogsItsLabelAndReleasesWhatItHeld) {
    struct Row {
        const char* function;
        DWORD error;
        LogLevel level;
        std::string message;
    };
    const Row rows[] = {
        {"I_RpcBindingInqLocalClientPID", 1726, LogLevel::Warning, kLine + "RpcServerInqCallAttributes with result 1726"},
        {"OpenProcess", 5, LogLevel::Warning, kLine + "OpenProcess with result 0"},
        {"OpenProcessToken", 5, LogLevel::Warning, kLine + "OpenProcessToken with result 5"},
        {"GetTokenInformation", 6, LogLevel::Warning, kLine + "GetTokenInformation with result 6"},
        {"malloc", 8, LogLevel::Error, kLine + "malloc falied with result 8"},
        {"ConvertSidToStringSidW", 1337, LogLevel::Warning, kLine + "ConvertSidToStringSid with result 1337"},
        {"RegOpenKeyExW", 5, LogLevel::Warning, kLine + "RegOpenKey with result 5"},
    };
    for (const Row& row : rows) {
        LogCapture capture;
        KestraneEmu::FailCall(row.function, 1, row.error);
        EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("client-7")), nullptr) << row.function;
        const std::vector<CapturedLog> log = capture.Records();
        ASSERT_EQ(log.size(), 1u) << row.function;
        EXPECT_EQ(log[0].message, row.message);
        EXPECT_EQ(log[0].level, row.level) << row.function;
        EXPECT_EQ(log[0].clientId, "client-7");
        EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u) << row.function;
        EXPECT_EQ(KestraneEmu::LocalAllocCount(), 0u) << row.function;
        KestraneEmu::ClearFaults();
    }
    // The filling call is the second one: it fails after the buffer exists.
    LogCapture capture;
    KestraneEmu::FailCall("GetTokenInformation", 2, 1300);
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{kLine + "GetTokenInformation with result 1300"}));
}

TEST_F(CallerHive, AGoneClientOrAnUnloadedHiveGivesNoRoot) {
    LogCapture capture;
    KestraneEmu::RemoveProcess(kClientPid);
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);
    KestraneEmu::AddProcess(kClientPid, u"S-1-5-21-9-9-9-1002");  // no hive under HKEY_USERS
    EXPECT_EQ(KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("c")), nullptr);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{kLine + "OpenProcess with result 0",
                                                            kLine + "RegOpenKey with result 2"}));
}

TEST_F(CallerHive, CommandsOnTheCurrentUserRootReachTheCallersHiveAndCloseIt) {
    LoadedService service;
    // Only the client's hive has the key; the host's own user has none.
    HKEY made = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, (kClientSid + u"\\SOFTWARE\\QV\\Mine").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &made, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    EXPECT_EQ(Execute(service.get(), 0, R"({"keyPath":"HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine"})").text,
              "{\"result\":true}");
    KestraneEmu::SetRpcClientPid(static_cast<DWORD>(getpid()));
    EXPECT_EQ(Execute(service.get(), 0, R"({"keyPath":"HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine"})").text,
              "{\"result\":false}");
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
}

#endif
