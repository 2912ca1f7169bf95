// kestrane-host and kestrane-cli as separate processes, the way they are deployed:
// every test talks to one host started for it on an endpoint of its own.
#include "rpc/ProcessAccount.h"
#include "rpc/ServerIdentity.h"
#include "client/kestrane_client.hpp"
#include "tests/host/RunningHost.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

namespace {

using Kestrane::Client::ClientSession;
using Kestrane::Client::Value;
using KestraneTest::kProcessTimeoutMs;
using KestraneTest::MemoryOf;
using KestraneTest::ProbeProcess;
using KestraneTest::StartHost;

const std::wstring kKey = L"HKLM\\SOFTWARE\\QV\\HostEndToEnd";
// The host's peak resident memory while 32 clients ask for 20.8 million characters each.
constexpr SIZE_T kAttackPeakBound = 512u << 20;

struct CliResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

class HostEndToEndTest : public KestraneTest::RunningHost {
protected:
    std::unique_ptr<ProbeProcess> StartCli(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), {L"--endpoint", endpoint_});
        auto cli = std::make_unique<ProbeProcess>(arguments, L"kestrane-cli.exe");
        EXPECT_EQ(cli->StartError(), 0u);
        EXPECT_TRUE(cli->Resume());
        return cli;
    }

    CliResult Cli(std::vector<std::wstring> arguments) {
        auto cli = StartCli(std::move(arguments));
        CliResult result;
        EXPECT_TRUE(cli->Wait(kProcessTimeoutMs, &result.exitCode));
        result.output = cli->Output();
        return result;
    }

    unsigned long LiveSessions() {
        ClientSession session(endpoint_, L"counter");
        unsigned long live = 0;
        unsigned long calls = 0;
        EXPECT_EQ(KestraneHostStatus(session.get(), &live, &calls), KESTRANE_OK);
        return live - 1;  // not counting the one asking
    }

    // Stops the host through its interface and reads all it logged.
    std::string StoppedHostLog() {
        StopHost();
        std::ifstream file(std::filesystem::path(log_), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    // The sessions open once they come to `wanted` (or after 20 s).
    unsigned long LiveSessionsOnceAt(unsigned long wanted) {
        unsigned long live = LiveSessions();
        for (int attempt = 0; attempt < 400 && live != wanted; ++attempt, live = LiveSessions()) Sleep(50);
        return live;
    }
};

TEST_F(HostEndToEndTest, EveryCliCommandAnswersThroughTheHost) {
    struct Step {
        std::vector<std::wstring> arguments;
        DWORD exitCode;
        const char* expected;  // a piece of the output
    };
    const Step steps[] = {
        {{L"add", kKey + L"\\Sub"}, 0, "Success (0x00000000)"},
        {{L"set", kKey, L"S", L"REG_SZ", L"text"}, 0, "\"result\": true"},
        {{L"set", kKey, L"E", L"REG_EXPAND_SZ", L"%SystemRoot%\\k"}, 0, "Success"},
        {{L"set", kKey, L"B", L"REG_BINARY", L"S2VzdHJhbmU="}, 0, "Success"},
        {{L"set", kKey, L"D", L"REG_DWORD", L"-7"}, 0, "Success"},
        {{L"set", kKey, L"Q", L"REG_QWORD", L"0x100000000"}, 0, "Success"},
        {{L"set", kKey, L"M", L"REG_MULTI_SZ", L"[\"x\",\"y\"]"}, 0, "Success"},
        {{L"--json", L"query", kKey, L"D"}, 0, "{\"result\":{\"D\":{\"dataType\":4,\"valueData\":-7}}}"},
        {{L"--json", L"query", kKey, L"Q"}, 0, "\"valueData\":4294967296"},
        {{L"--json", L"query", kKey, L"B"}, 0, "\"valueData\":\"S2VzdHJhbmU="},
        {{L"--json", L"query", kKey, L"E", L"--expand"}, 0, "C:\\\\windows\\\\k"},
        {{L"--json", L"query", kKey}, 0, "\"M\":{\"dataType\":7,\"valueData\":[\"x\",\"y\"]}"},
        {{L"--json", L"subkeys", kKey}, 0, "{\"result\":{\"Sub\":{}}}"},
        {{L"exists", kKey + L"\\Sub"}, 0, "\"result\": true"},
        {{L"delete", kKey, L"S"}, 0, "Success"},
        {{L"--json", L"query", kKey, L"S"}, 1, ""},
        {{L"delete", kKey + L"\\Sub"}, 0, "Success"},
        {{L"delete", kKey}, 0, "Success"},
        {{L"--json", L"exists", kKey}, 0, "{\"result\":false}"},
        {{L"set", L"HKLM\\SOFTWARE\\Microsoft", L"x", L"REG_DWORD", L"1"}, 1, "NotWhiteListed (0x20000009)"},
        {{L"call", L"7", L"{}"}, 1, "UnsupportedFunction (0x20000001)"},
        {{L"call", L"0", L"{\"keyPath\": "}, 1, "InvalidJson (0x2000000B)"},
        {{L"set", kKey, L"M", L"REG_MULTI_SZ", L"x"}, 2, "JSON array"},
        {{L"frobnicate"}, 2, "unknown command"},
        {{L"--endpoint", L"kestrane-nobody-listens", L"exists", L"HKLM\\SOFTWARE"}, 2, "Start it with: kestrane-host run"},
        // HKEY_CURRENT_USER is the caller's own hive; the CLI runs as this test's user.
        {{L"add", L"HKCU\\SOFTWARE\\QV\\HostEndToEnd"}, 0, "Success"},
    };
    for (const Step& step : steps) {
        const CliResult result = Cli(step.arguments);
        EXPECT_EQ(result.exitCode, step.exitCode) << result.output;
        EXPECT_NE(result.output.find(step.expected), std::string::npos) << result.output;
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\QV\\HostEndToEnd", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key != nullptr) RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\QV\\HostEndToEnd");
}

TEST_F(HostEndToEndTest, EightClientsInParallelGetTheSameAnswerEveryTime) {
    ASSERT_EQ(Cli({L"add", kKey + L"\\Sub"}).exitCode, 0u);
    ASSERT_EQ(Cli({L"set", kKey, L"V", L"REG_SZ", L"v"}).exitCode, 0u);
    // The writer rewrites what is already there, so the readers' answers stay the same.
    ASSERT_EQ(Cli({L"set", kKey, L"W", L"REG_DWORD", L"5"}).exitCode, 0u);
    const std::vector<std::wstring> commands[] = {
        {L"exists", kKey}, {L"query", kKey, L"V"}, {L"query", kKey}, {L"subkeys", kKey},
        {L"add", kKey + L"\\Sub"}, {L"set", kKey, L"W", L"REG_DWORD", L"5"}, {L"exists", kKey + L"\\Sub"},
        {L"query", kKey, L"V", L"--expand"}};
    std::vector<std::unique_ptr<ProbeProcess>> clients;
    for (const auto& command : commands) {
        std::vector<std::wstring> arguments{L"--repeat", L"200", L"--client-id", L"parallel"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        clients.push_back(StartCli(arguments));
    }
    for (auto& client : clients) {
        DWORD code = 0;
        EXPECT_TRUE(client->Wait(kProcessTimeoutMs, &code));
        EXPECT_EQ(code, 0u) << client->Output();
        EXPECT_NE(client->Output().find("200 calls in"), std::string::npos) << client->Output();
    }
    EXPECT_EQ(Cli({L"delete", kKey + L"\\Sub"}).exitCode, 0u);
    EXPECT_EQ(Cli({L"delete", kKey}).exitCode, 0u);
}

// A client killed mid-session has its session released; the host stops cleanly with calls
// in flight, cutting off the clients still calling, and its last lines reach its log. The log
// names each session's process beside the client id it claimed, one that forges a record quoted.
TEST_F(HostEndToEndTest, KilledClientsAreReleasedAndTheHostStopsWithCallsInFlight) {
    const std::wstring forged = L"evil\n2026-01-01T00:00:00.000Z ERROR 1 1 [admin] forged";
    std::vector<std::unique_ptr<ProbeProcess>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(StartCli({L"--client-id", forged, L"--repeat", L"1000000", L"query", L"HKLM\\SOFTWARE\\QV"}));
    ASSERT_EQ(LiveSessionsOnceAt(4), 4u);
    clients.pop_back();  // terminated here, mid-session
    EXPECT_EQ(LiveSessionsOnceAt(3), 3u);
    const std::string text = StoppedHostLog();
    for (auto& client : clients) {
        DWORD code = 0;
        EXPECT_TRUE(client->Wait(kProcessTimeoutMs, &code));
        EXPECT_NE(code, 0u);  // cut off: the host went away under it
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(text.substr(at, end - at));
        EXPECT_EQ(lines.back().compare(0, 2, "20"), 0) << "not a record: " << lines.back();
    }
    const std::string opened = R"(["evil\n2026-01-01T00:00:00.000Z ERROR 1 1 [admin] forged"] )"
                               "KestraneHost.OpenSession - session opened by process " +
                               std::to_string(clients[0]->Pid());
    EXPECT_NE(text.find(opened + "\n"), std::string::npos) << text;
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("KestraneHost: stopped"), std::string::npos) << lines.back();
}

// HKEY_CURRENT_USER during a call is the caller's hive: a key made in this test's own hive is
// found. The module impersonates the client to find it, only within its own step: the host
// never had to take a thread back from the client.
TEST_F(HostEndToEndTest, CallersHiveIsFoundAndTheThreadIsHandedBack) {
    const std::wstring below = L"SOFTWARE\\QV\\HostEndToEndHive-" + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, below.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const CliResult found = Cli({L"--json", L"exists", L"HKEY_CURRENT_USER\\" + below});
    RegDeleteKeyW(HKEY_CURRENT_USER, below.c_str());
    EXPECT_EQ(found.exitCode, 0u) << found.output;
    EXPECT_NE(found.output.find("{\"result\":true}"), std::string::npos) << found.output;
    const std::string log = StoppedHostLog();
    EXPECT_EQ(log.find("acting for its client"), std::string::npos) << log;
}

// Two client processes, the first flooding: each has a share of the log of its own, and what
// the flooder's share held back is summed up under its process, session and user.
TEST_F(HostEndToEndTest, EachClientProcessHasAShareOfTheLogOfItsOwn) {
    constexpr int kFlood = 20;  // about 6 KiB a line: several times a process's share
    const std::wstring flood = L"HKLM\\SOFTWARE\\Flood\\" + std::wstring(1100, L'\u2028');
    auto flooder = StartCli({L"--repeat", std::to_wstring(kFlood), L"subkeys", flood});
    DWORD code = 0;
    EXPECT_TRUE(flooder->Wait(kProcessTimeoutMs, &code));
    EXPECT_NE(flooder->Output().find("NotWhiteListed"), std::string::npos) << flooder->Output();
    EXPECT_EQ(Cli({L"subkeys", L"HKLM\\SOFTWARE\\SecondClient"}).exitCode, 1u);
    const std::string log = StoppedHostLog();
    const auto count = [&log](const std::string& what) {
        long found = 0;
        for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("SecondClient"), 1);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    const std::regex summary("client process " + std::to_string(flooder->Pid()) + " in session " +
                             std::to_string(session) + " as S-1-5-[-0-9]+: ([0-9]+) lines like");
    std::smatch held;
    ASSERT_TRUE(std::regex_search(log, held, summary)) << log;
    EXPECT_EQ(count("Flood") + std::stol(held[1].str()), kFlood);
}

// One process opening sessions under client ids of 500 000 units is stopped at its
// bound, keeps no more than 64 units of each id in the host, and leaves others served.
TEST_F(HostEndToEndTest, SessionFloodStopsAtTheBound) {
    const std::wstring id(500000, L'i');
    const SIZE_T before = MemoryOf(host_->Pid()).WorkingSetSize;
    std::vector<std::unique_ptr<ClientSession>> sessions;
    for (int i = 0; i < 32; ++i) {
        sessions.push_back(std::make_unique<ClientSession>(endpoint_, id));
        ASSERT_EQ(sessions.back()->OpenError(), 0u) << i;
    }
    EXPECT_EQ(ClientSession(endpoint_, id).OpenError(), static_cast<unsigned long>(ERROR_TOO_MANY_SESS));
    EXPECT_EQ(Cli({L"exists", L"HKLM\\SOFTWARE"}).exitCode, 0u);
    // 32 ids kept whole would be 32 MB.
    EXPECT_LT(MemoryOf(host_->Pid()).WorkingSetSize, before + (16u << 20));
}

// A client that requires another account than the server's is told so before it has sent
// anything. (A second host on a served endpoint does not start: HostThroughEndpointMap, and
// the install test's service on a console host's endpoint.)
TEST_F(HostEndToEndTest, UntrustedServerIsRefused) {
    // Every Wine process runs as one user: a server of another account is one the client
    // requires to be LocalSystem. The account found is the system's word on the host.
    handle_t binding = nullptr;
    std::wstring account;
    EXPECT_EQ(Kestrane::Host::ConnectToTrustedServer(endpoint_, L"S-1-5-18", &binding, &account),
              Kestrane::Host::kServerNotTrusted);
    EXPECT_EQ(account, Kestrane::Host::ProcessAccount(GetCurrentProcess()));
    // Accepted, and served, only with the identify level set on the binding (Wine's runtime
    // takes the level without authentication and keeps it where it cannot be read back).
    EXPECT_EQ(Kestrane::Host::ConnectToTrustedServer(endpoint_, L"", &binding, &account), 0u);
    RpcBindingFree(&binding);
    EXPECT_EQ(LiveSessions(), 0u);
}

// The service's way, with no endpoint name anywhere: the host registers the endpoint the
// runtime gave it with the endpoint mapper, and clients that name none ask the mapper.
// Wine's mapper keeps the entry of a host that was killed (or stopped) and hands it out:
// a new host's registration must take its place, or no client would reach the new host.
TEST(HostThroughEndpointMap, FoundWithNoNameAndNotHiddenByAKilledHost) {
    auto first = StartHost({L"run", L"--allow-stop"}, L"");
    ASSERT_FALSE(HasFailure());
    ProbeProcess second({L"run"}, L"kestrane-host.exe");
    ASSERT_TRUE(second.Resume());
    DWORD code = 0;
    EXPECT_TRUE(second.Wait(kProcessTimeoutMs, &code));
    EXPECT_EQ(code, 3u) << second.Output();

    first.reset();  // killed, its entry left in the map
    EXPECT_EQ(ClientSession(L"", L"orphan").OpenResult(), KESTRANE_UNREACHABLE);
    auto successor = StartHost({L"run", L"--allow-stop"}, L"");
    KestraneSession* found = nullptr;  // a null endpoint is the mapper's too
    EXPECT_EQ(KestraneOpenSession(nullptr, L"finder", 0, &found), KESTRANE_OK);
    KestraneCloseSession(found);
    ProbeProcess stop({L"host-stop"}, L"kestrane-cli.exe");
    ASSERT_TRUE(stop.Resume());
    EXPECT_TRUE(stop.Wait(kProcessTimeoutMs, &code));
    EXPECT_EQ(code, 0u) << stop.Output();
    EXPECT_TRUE(successor->Wait(kProcessTimeoutMs, &code));
    EXPECT_EQ(code, 0u) << successor->Output();
}

// Forty values of 520 000 characters, each written within the request bound, then 32
// sessions ask for all of them at once: an answer of 20.8 million characters each.
TEST_F(HostEndToEndTest, ResponseAmplificationIsRefusedWithinTheMemoryBound) {
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\HostEndToEndBig";
    {
        ClientSession writer(endpoint_, L"writer");
        const std::wstring data(520000, L'x');
        for (int i = 0; i < 40; ++i) {
            const auto written = writer.WriteValue(key, L"v" + std::to_wstring(i), Value::String(data));
            ASSERT_TRUE(written.Succeeded()) << written.error << " " << written.status;
        }
    }
    const SIZE_T before = MemoryOf(host_->Pid()).PeakWorkingSetSize;
    std::atomic<int> refused{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 32; ++i) {
        readers.emplace_back([&] {
            ClientSession reader(endpoint_, L"reader");
            const auto answer = reader.ReadValues(key);
            if (answer.result == KESTRANE_OK && answer.status == 0x20000002u && answer.value.empty()) ++refused;
        });
    }
    for (auto& reader : readers) reader.join();
    const SIZE_T peak = MemoryOf(host_->Pid()).PeakWorkingSetSize;
    std::printf("host peak resident: %zu MiB after the writes, %zu MiB after 32 reads\n", before >> 20, peak >> 20);
    EXPECT_EQ(refused.load(), 32);
    EXPECT_LT(peak, SIZE_T{kAttackPeakBound});
    ClientSession cleaner(endpoint_, L"cleaner");
    EXPECT_TRUE(cleaner.DeleteKey(key).value);
}

}  // namespace
