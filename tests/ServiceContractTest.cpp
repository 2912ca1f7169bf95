// The host contract, driven only through QVCreateService and the vtable.
#include "tests/TestSupport.h"

#include <thread>

using namespace KestraneTest;
using Svc::ServiceStatus;

namespace {

// Counts how often copies of a callback object are destroyed.
struct DestructionCounter {
    explicit DestructionCounter(int* count) : count_(count) {}
    DestructionCounter(const DestructionCounter& other) : count_(other.count_), live_(other.live_) {}
    DestructionCounter(DestructionCounter&& other) noexcept : count_(other.count_), live_(other.live_) {
        other.live_ = false;
    }
    ~DestructionCounter() {
        if (live_) ++*count_;
    }
    void operator()(const WCHAR*) const {}
    int* count_;
    bool live_ = true;
};

}  // namespace

TEST(ServiceContract, ContextsCopyAtMost64UnitsAndReleaseSafely) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    LogCapture capture;

    EXPECT_EQ(service->CreateClientContext(W("ten-chars!").c_str(), nullptr), 0u);

    Svc::ClientContext* context = nullptr;
    EXPECT_EQ(service->CreateClientContext(nullptr, &context), 0u);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(service->ReleaseClientContext(&context), 0u);

    Svc::ClientContext* nullContext = nullptr;
    EXPECT_EQ(service->ReleaseClientContext(&nullContext), 0u);
    EXPECT_EQ(service->ReleaseClientContext(nullptr), 0u);

    // The client id only shows in log records: use an unsupported id to make one.
    const std::string longId(70, 'x');
    const Reply reply = Execute(service.get(), 3, "{}", nullptr, longId);
    EXPECT_EQ(reply.status, Svc::UnsupportedFunction);
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].clientId, std::string(64, 'x'));

    capture.Clear();
    Execute(service.get(), 3, "{}", nullptr, "ten-chars!");
    ASSERT_EQ(capture.Records().size(), 1u);
    EXPECT_EQ(capture.Records()[0].clientId, "ten-chars!");
}

TEST(ServiceContract, ReservedOperationsAndFreeOutString) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    EXPECT_TRUE(service->Reserved4());
    service->Reserved1();
    service->Reserved2();
    service->Reserved3();
    service->Reserved5();
    service->Reserved6();
    service->FreeOutString(nullptr);
}

TEST(ServiceContract, PointerChecksAndStatusTable) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    LogCapture capture;
    const WString client = W("c1");
    const WString request = W("{}");
    Svc::ClientContext* context = nullptr;
    service->CreateClientContext(client.c_str(), &context);

    WCHAR* sentinel = reinterpret_cast<WCHAR*>(&sentinel);
    WCHAR* out = sentinel;
    EXPECT_EQ(service->ExecuteCommand(nullptr, 0, request.c_str(), &out, nullptr, nullptr), Svc::GeneralFailure);
    EXPECT_EQ(out, sentinel);
    EXPECT_TRUE(capture.Records().empty());

    EXPECT_EQ(service->ExecuteCommand(context, 0, nullptr, &out, nullptr, nullptr), Svc::GeneralFailure);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(service->ExecuteCommand(context, 0, nullptr, nullptr, nullptr, nullptr), Svc::GeneralFailure);
    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 3u);
    const std::string checker = "Qv::Corvane::Server::Services::UtilHelper.NullChecker - ";
    EXPECT_EQ(records[0].message, checker + "message cannot be null");
    EXPECT_EQ(records[1].message, checker + "message cannot be null");
    EXPECT_EQ(records[2].message, checker + "outString cannot be null");
    EXPECT_EQ(records[0].level, Qv::Corvane::Logging::LogLevel::Warning);
    EXPECT_EQ(records[0].clientId, "c1");
    service->ReleaseClientContext(&context);
}

TEST(ServiceContract, MalformedJsonGivesInvalidJsonAndNullResponse) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    LogCapture capture;
    for (const char* text : {"", "   \t\r\n", "{} {}", "{}x", "{\"a\":1,}", "[1,]", "{/*c*/}", "// c\n{}", "{'a':1}",
                             "NaN", "{\"a\":Infinity}", "{\"a\":}", "\"unterminated", "{\"a\":01}"}) {
        const Reply reply = Execute(service.get(), 0, text);
        EXPECT_EQ(reply.status, Svc::InvalidJson) << text;
        EXPECT_FALSE(reply.hasText) << text;
        EXPECT_EQ(reply.text, "") << text;
    }
    EXPECT_TRUE(capture.Records().empty());
    // Whitespace around one value is fine, and so is any single JSON value.
    EXPECT_NE(Execute(service.get(), 3, " \r\n{ } \t").status, Svc::InvalidJson);
    EXPECT_NE(Execute(service.get(), 3, "42").status, Svc::InvalidJson);
}

TEST(ServiceContract, UnsupportedFunctionIdsAnswerEmptyObjectAndLogTheId) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    for (int32_t id : {1, 3, 5, 127, 129, 256, -1, INT32_MIN, INT32_MAX}) {
        LogCapture capture;
        const Reply reply = Execute(service.get(), id, "{\"keyPath\":\"HKEY_LOCAL_MACHINE\"}");
        EXPECT_EQ(reply.status, Svc::UnsupportedFunction) << id;
        EXPECT_EQ(reply.text, "{}") << id;
        const auto records = capture.Records();
        ASSERT_EQ(records.size(), 1u) << id;
        EXPECT_EQ(records[0].level, Qv::Corvane::Logging::LogLevel::Error);
        EXPECT_EQ(records[0].message, "Qv::Corvane::Server::Services::Kestrane::KestraneService.ExecuteCommand - "
                                      "Unsupported Function call " + std::to_string(id));
    }
}

TEST(ServiceContract, CallbackIsDestroyedExactlyOnceOnEveryPath) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    const WString client = W("cb");
    Svc::ClientContext* context = nullptr;
    service->CreateClientContext(client.c_str(), &context);
    struct Case {
        Svc::ClientContext* context;
        const char* message;
        bool withOut;
        int32_t id;
    };
    const Case cases[] = {{nullptr, "{}", true, 0},  {context, nullptr, true, 0}, {context, "{}", false, 0},
                          {context, "{", true, 0},   {context, "{}", true, 3},    {context, "{}", true, 4}};
    for (const Case& c : cases) {
        int destroyed = 0;
        {
            Svc::ServiceCallback callback{DestructionCounter(&destroyed)};
            destroyed = 0;  // the temporary moved into `callback` above is not a copy that counts
            WCHAR* out = nullptr;
            const WString message = c.message ? W(c.message) : WString();
            service->ExecuteCommand(c.context, c.id, c.message ? message.c_str() : nullptr, c.withOut ? &out : nullptr,
                                    std::move(callback), nullptr);
            EXPECT_EQ(destroyed, 1) << "message=" << (c.message ? c.message : "null") << " id=" << c.id;
            service->FreeOutString(out);
        }
        EXPECT_EQ(destroyed, 1);
    }
    service->ReleaseClientContext(&context);
}

TEST(ServiceContract, ConcurrentCallsShareNothing) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const Reply reply = Execute(service.get(), 1000 + t, "{\"n\":" + std::to_string(i) + "}");
                if (reply.status != Svc::UnsupportedFunction || reply.text != "{}") ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << t;
}
