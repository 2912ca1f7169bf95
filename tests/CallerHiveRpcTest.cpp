// HKEY_CURRENT_USER during a real RPC call: the test serves the probe interface over
// ncalrpc in-process, and kestrane-rpc-probe.exe, a process of its own, calls it.
#ifdef _WIN32

#include "access/KestraneServiceHelper.h"
#include "access/ScopedHandles.h"
#include "tests/RegistryFixture.h"
#include "tests/TestSupport.h"
#include "tests/rpc/ProbeProcess.h"
#include "tests/rpc/ProbeServer.h"


using namespace KestraneTest;
using Qv::Corvane::Logging::LogLevel;
using Qv::Corvane::Server::Services::Kestrane::KestraneServiceHelper;
using Qv::Corvane::Server::Services::Kestrane::ScopedHandle;
using Qv::Corvane::Server::Services::Kestrane::ScopedLocalText;

namespace {

// A probe run is a process start under Wine (about a second); a minute means a hang.
constexpr DWORD kProbeTimeoutMs = 60000;

// The user of a process as its token names it: the hive the module should pick.
std::string ProcessUserSid(DWORD pid) {
    const ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    ScopedHandle token;
    if (!process.IsValid() || !OpenProcessToken(process.Get(), TOKEN_QUERY, token.Put())) return "";
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) return "";
    ScopedLocalText text;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, text.Put())) return "";
    return U8(text.Get());
}

// A key of the test's own in a user's hive, gone afterwards.
class UserScratchKey {
public:
    UserScratchKey(const std::string& sid, const std::string& below) : subKey_(W(sid + "\\" + below)) {
        DeleteTree(HKEY_USERS, subKey_);
        HKEY key = nullptr;
        created_ = RegCreateKeyExW(HKEY_USERS, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr) == ERROR_SUCCESS;
        if (created_) RegCloseKey(key);
    }
    ~UserScratchKey() { DeleteTree(HKEY_USERS, subKey_); }
    UserScratchKey(const UserScratchKey&) = delete;
    UserScratchKey& operator=(const UserScratchKey&) = delete;
    bool Created() const { return created_; }

private:
    WString subKey_;
    bool created_ = false;
};

class CallerHiveRpc : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server_.Status(), RPC_S_OK); }

    // Lets a started probe run to its end; false when it would not end.
    bool Finish(ProbeProcess& probe, DWORD* exitCode) { return probe.Resume() && probe.Wait(kProbeTimeoutMs, exitCode); }

    // The probe's command line for one request through the service.
    std::vector<std::wstring> RequestArguments(int functionId, const std::string& request) const {
        return {server_.Endpoint(), L"execute", std::to_wstring(functionId), W(request)};
    }

    // Declared in this order so the server stops before the module it calls unloads.
    LoadedService service_;
    ProbeServer server_{service_.get()};
};

}  // namespace

TEST_F(CallerHiveRpc, OpensTheHiveOfTheProcessThatMadeTheCall) {
    ProbeProcess probe({server_.Endpoint(), L"user", std::to_wstring(KEY_READ)});
    ASSERT_EQ(probe.StartError(), 0u);
    // Read before it runs: the user of the process that is about to call.
    const std::string sid = ProcessUserSid(probe.Pid());
    ASSERT_FALSE(sid.empty()) << "could not read the probe's token: " << GetLastError();

    LogCapture capture;
    DWORD exitCode = 0;
    ASSERT_TRUE(Finish(probe, &exitCode)) << probe.Output();
    const std::string output = probe.Output();
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(probe.Field("rpc"), "0") << output;
    EXPECT_EQ(probe.Field("gotKey"), "1") << output;
    // The registry spells its root names in mixed case (\REGISTRY\USER, \REGISTRY\Machine).
    EXPECT_EQ(_stricmp(probe.Field("key").c_str(), ("\\REGISTRY\\USER\\" + sid).c_str()), 0) << output;
    EXPECT_TRUE(capture.Messages().empty()) << capture.Messages().front();

    // Under Wine every process runs as the same user, so the SID above would also match
    // a module that opened the host's own user. What shows that the caller itself was
    // identified is the process id the RPC runtime gave during the call: the probe's,
    // not this test's.
    EXPECT_EQ(probe.Field("inquiry"), "0") << output;
    EXPECT_EQ(probe.Field("clientPid"), std::to_string(probe.Pid())) << output;
    EXPECT_EQ(probe.Field("pid"), std::to_string(probe.Pid())) << output;
    EXPECT_NE(probe.Pid(), GetCurrentProcessId());

    // The module impersonated the client to compare users; the rest of the call, and
    // whatever the host serves on this thread next, runs as the host again.
    EXPECT_EQ(probe.Field("threadTokenError"), std::to_string(ERROR_NO_TOKEN)) << output;
}

TEST_F(CallerHiveRpc, OutsideACallThereIsNoCallerToAskFor) {
    // The server is listening, but this thread serves no call.
    LogCapture capture;
    const HKEY hive = KestraneServiceHelper::OpenCurrentUserRegKey(KEY_READ, WIDE("outside-call"));
    if (hive != nullptr) RegCloseKey(hive);
    EXPECT_EQ(hive, nullptr);
    const std::vector<CapturedLog> records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::Warning);
    EXPECT_EQ(records[0].clientId, "outside-call");
    EXPECT_EQ(records[0].message,
              "Qv::Corvane::Server::Services::Kestrane::KestraneServiceHelper.OpenCurrentUserRegKey failed on "
              "function RpcServerInqCallAttributes with result 1725");
}

TEST_F(CallerHiveRpc, PathCheckDuringTheCallLooksInTheCallersHive) {
    const std::string below = "Software\\QV\\KestraneTest\\RpcProbe-" + std::to_string(GetCurrentProcessId());
    const std::string present = "{\"keyPath\":" + Quote("HKEY_CURRENT_USER\\" + below) + "}";

    ProbeProcess probe(RequestArguments(0, present));
    ASSERT_EQ(probe.StartError(), 0u);
    const std::string sid = ProcessUserSid(probe.Pid());
    ASSERT_FALSE(sid.empty());
    const UserScratchKey key(sid, below);
    ASSERT_TRUE(key.Created());

    DWORD exitCode = 0;
    ASSERT_TRUE(Finish(probe, &exitCode)) << probe.Output();
    EXPECT_EQ(exitCode, 0u) << probe.Output();
    EXPECT_EQ(probe.Field("status"), "0") << probe.Output();
    EXPECT_EQ(probe.Field("response"), "{\"result\":true}") << probe.Output();

    // The same request served on no call has no caller whose hive it could reach.
    const Reply outside = Execute(service_.get(), 0, present);
    EXPECT_EQ(outside.status, Svc::RootKeyNotFound) << outside.text;
}

#endif  // _WIN32
