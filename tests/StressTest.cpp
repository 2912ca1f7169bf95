// Eight host threads at once on one service object, the way a host serves concurrent
// clients: every command, on keys of each thread's own and on keys they all share.
// Natively this also runs under ThreadSanitizer (the native-tsan preset).
#include "tests/JsonTestSupport.h"
#include "tests/RegistryFixture.h"

#include <set>
#include <thread>

#ifndef _WIN32
#include "platform/native/Emulation.h"

#include <unistd.h>
#endif

using namespace KestraneTest;

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 12;

struct Step {
    int32_t id;
    std::string request;
    std::string expected;  // the exact reply text, or "" when any success will do
};

// One thread's work. Its own key goes through a whole life each round, so every answer
// there is known exactly; on the shared key only what holds whatever the others do is
// checked. Failures are collected, not asserted, and reported by the main thread.
class Worker {
public:
    Worker(Svc::QVService* service, const ScratchKey& key, int index)
        : service_(service), key_(key), index_(index) {}

    void Run() {
#ifndef _WIN32
        // Natively each thread serves an RPC call of its own, so the caller's hive is
        // looked up concurrently as well.
        KestraneEmu::SetRpcClientPid(static_cast<DWORD>(getpid()));
#endif
        for (int round = 0; round < kRounds; ++round) {
            OwnKey(round);
            SharedKey(round);
        }
#ifndef _WIN32
        KestraneEmu::SetRpcClientPid(0);
#endif
    }

    std::vector<std::string> failures;

private:
    void OwnKey(int round) {
        const std::string own = "T" + std::to_string(index_);
        const std::string leafName = "R" + std::to_string(round % 3);
        const std::string leaf = key_.Path(own + "\\" + leafName);
        const std::string number = std::to_string(index_ * 1000 + round);
        const std::string text = Quote(std::to_string(index_) + "-" + std::to_string(round));
        const Step steps[] = {
            {2, Req::Key(leaf), "{\"result\":true}"},
            {16, Req::Write(leaf, "N", REG_DWORD, number), "{\"result\":true}"},
            {16, Req::Write(leaf, "S", REG_SZ, text), "{\"result\":true}"},
            {4, Req::Value(leaf, "N"), "{\"result\":{\"N\":{\"dataType\":4,\"valueData\":" + number + "}}}"},
            {8, Req::Key(leaf),
             "{\"result\":{\"N\":{\"dataType\":4,\"valueData\":" + number + "},\"S\":{\"dataType\":1,\"valueData\":" +
                 text + "}}}"},
            {128, Req::Key(key_.Path(own)), "{\"result\":{" + Quote(leafName) + ":{}}}"},
            {0, Req::Key(leaf), "{\"result\":true}"},
            {64, Req::Value(leaf, "N"), "{\"result\":true}"},
            {64, Req::Value(leaf, "S"), "{\"result\":true}"},
            {32, Req::Key(leaf), "{\"result\":true}"},
            {0, Req::Key(leaf), "{\"result\":false}"},
        };
        for (const Step& step : steps) Check(step, Svc::Success);
        // A refusal, which logs a warning from every thread at once.
        Check({4, Req::Value("HKEY_LOCAL_MACHINE\\SAM\\SAM", "N"), "{}"}, Svc::NotWhiteListed);
#ifndef _WIN32
        const std::string mine = "HKEY_CURRENT_USER\\SOFTWARE\\QV\\KestraneStress";
        Check({16, Req::Write(mine, own, REG_DWORD, number), "{\"result\":true}"}, Svc::Success);
        Check({4, Req::Value(mine, own), "{\"result\":{" + Quote(own) + ":{\"dataType\":4,\"valueData\":" + number + "}}}"},
              Svc::Success);
#endif
    }

    void SharedKey(int round) {
        const std::string shared = key_.Path("Shared");
        const std::string mine = Quote("v" + std::to_string(index_));
        Check({16, Req::Write(shared, "Common", REG_SZ, mine), "{\"result\":true}"}, Svc::Success);
        Check({2, Req::Key(key_.Path("Shared\\Sub" + std::to_string(round % 2))), "{\"result\":true}"}, Svc::Success);

        const Reply one = Check({4, Req::Value(shared, "Common"), ""}, Svc::Success);
        if (one.status == Svc::Success) ExpectSharedValue(ParseReply(one.text)["result"]["Common"], "read");
        const Reply all = Check({8, Req::Key(shared), ""}, Svc::Success);
        if (all.status == Svc::Success) {
            const rapidjson::Document doc = ParseReply(all.text);
            if (doc["result"].MemberCount() != 1 || !doc["result"].HasMember("Common"))
                failures.push_back("shared values: " + all.text);
            else
                ExpectSharedValue(doc["result"]["Common"], "listed");
        }
        const Reply subkeys = Check({128, Req::Key(shared), ""}, Svc::Success);
        if (subkeys.status == Svc::Success) {
            const rapidjson::Document doc = ParseReply(subkeys.text);
            for (auto it = doc["result"].MemberBegin(); it != doc["result"].MemberEnd(); ++it)
                if (std::set<std::string>{"Sub0", "Sub1"}.count(it->name.GetString()) == 0)
                    failures.push_back("shared subkeys: " + subkeys.text);
        }
    }

    // Some thread's write, whole: never a mix of two or a torn text.
    void ExpectSharedValue(const rapidjson::Value& value, const char* how) {
        const std::string data = value.HasMember("valueData") && value["valueData"].IsString()
                                     ? value["valueData"].GetString()
                                     : "(not a string)";
        if (value["dataType"] != REG_SZ || data.size() != 2 || data[0] != 'v' || data[1] < '0' ||
            data[1] >= '0' + kThreads)
            failures.push_back(std::string("shared value ") + how + ": " + data);
    }

    Reply Check(const Step& step, uint32_t status) {
        const Reply reply = Execute(service_, step.id, step.request);
        if (reply.status != status || (!step.expected.empty() && reply.text != step.expected))
            failures.push_back("id " + std::to_string(step.id) + " " + step.request + " -> status " +
                               std::to_string(reply.status) + " " + reply.text + ", expected " + step.expected);
        return reply;
    }

    Svc::QVService* service_;
    const ScratchKey& key_;
    int index_;
};

}  // namespace

TEST(Stress, EightThreadsRunEveryCommandAndEveryAnswerHolds) {
    ScratchKey key("Stress");
    key.CreateKey("Shared");
#ifndef _WIN32
    HKEY hive = nullptr;
    const WString stressKey =
        WString(KestraneEmu::kDefaultUserSid) + W("\\SOFTWARE\\QV\\KestraneStress");
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, stressKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hive);
#endif
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    LogCapture log;

    std::vector<Worker> workers;
    for (int i = 0; i < kThreads; ++i) workers.emplace_back(service.get(), key, i);
    std::vector<std::thread> threads;
    for (Worker& worker : workers) threads.emplace_back(&Worker::Run, &worker);
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(workers[i].failures.empty()) << "thread " << i << ": " << workers[i].failures.size()
                                                 << " failures, the first: " << workers[i].failures.front();
    }
    // One whitelist warning per refused request, none lost or merged.
    std::size_t refusals = 0;
    for (const CapturedLog& record : log.Records())
        refusals += record.message.find("HKEY_LOCAL_MACHINE\\SAM\\SAM") != std::string::npos;
    EXPECT_EQ(refusals, std::size_t{kThreads * kRounds});
    for (int i = 0; i < kThreads; ++i) EXPECT_FALSE(key.KeyExists("T" + std::to_string(i) + "\\R0"));
#ifndef _WIN32
    EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
    EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u);
#endif
}
