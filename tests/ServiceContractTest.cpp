// The host contract, driven only through QVCreateService and the vtable.
#include "tests/TestSupport.h"

#include <array>

using namespace KestraneTest;
using Kestrane::Host::CallbackArgument;
using Svc::ServiceStatus;

namespace {

// Counts how often the live copy of a callable is destroyed (moved-from copies do not count).
struct DestructionCounter {
    explicit DestructionCounter(int* count) : count_(count) {}
    DestructionCounter(const DestructionCounter& other) = default;
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

// The null cases of the context slots, the reserved slots and every way out of
// ExecuteCommand with each kind of callback are the C host's (kestrane-contract-host).
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
    EXPECT_EQ(service->ExecuteCommand(nullptr, 0, request.c_str(), &out, CallbackArgument().get(), nullptr),
              Svc::GeneralFailure);
    EXPECT_EQ(out, sentinel);
    EXPECT_TRUE(capture.Records().empty());

    EXPECT_EQ(service->ExecuteCommand(context, 0, nullptr, &out, CallbackArgument().get(), nullptr),
              Svc::GeneralFailure);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(service->ExecuteCommand(context, 0, nullptr, nullptr, CallbackArgument().get(), nullptr),
              Svc::GeneralFailure);
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
    // (ParserEquivalenceTest holds the parser's verdicts; this is what the host sees of one.)
    // A MiB of opening brackets is far deeper than any stack: an answer, not a crash.
    const std::string unclosed(1 << 20, '[');
    for (const char* text : {"", "   \t\r\n", "{} {}", "{/*c*/}", "NaN", "\"unterminated", unclosed.c_str()}) {
        const Reply reply = Execute(service.get(), 0, text);
        EXPECT_EQ(reply.status, Svc::InvalidJson) << text;
        EXPECT_FALSE(reply.hasText) << text;
        EXPECT_EQ(reply.text, "") << text;
    }
    EXPECT_TRUE(capture.Records().empty());
    // Whitespace around one value is fine, and so is any single JSON value.
    EXPECT_NE(Execute(service.get(), 3, " \r\n{ } \t").status, Svc::InvalidJson);
    EXPECT_NE(Execute(service.get(), 3, "42").status, Svc::InvalidJson);
    // Well-formed and just as deep: it parses, and is no request object.
    const Reply closed = Execute(service.get(), 4, std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_EQ(closed.status, Svc::InvalidKeyPath);
    EXPECT_EQ(closed.text, "{}");
}

// The line also shows that a context keeps at most 64 units of the client id.
TEST(ServiceContract, UnsupportedFunctionIdsAnswerEmptyObjectAndLogTheId) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    for (int32_t id : {1, 3, 127, 129, 256, -1, INT32_MAX}) {
        LogCapture capture;
        const Reply reply = Execute(service.get(), id, "{\"keyPath\":\"HKEY_LOCAL_MACHINE\"}", nullptr,
                                    std::string(70, 'x'));
        EXPECT_EQ(reply.status, Svc::UnsupportedFunction) << id;
        EXPECT_EQ(reply.text, "{}") << id;
        const auto records = capture.Records();
        ASSERT_EQ(records.size(), 1u) << id;
        EXPECT_EQ(records[0].level, Qv::Corvane::Logging::LogLevel::Error);
        EXPECT_EQ(records[0].clientId, std::string(64, 'x'));
        EXPECT_EQ(records[0].message, "Qv::Corvane::Server::Services::Kestrane::KestraneService.ExecuteCommand - "
                                      "Unsupported Function call " + std::to_string(id));
    }
}

// The host's callback wrapper: a callable in the object's storage and one on the heap,
// each destroyed by the module exactly once, on an early way out and after a dispatch.
TEST(ServiceContract, CallbackArgumentIsDestroyedOnceByTheModule) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    const WString client = W("cb");
    const WString request = W("{}");
    Svc::ClientContext* context = nullptr;
    service->CreateClientContext(client.c_str(), &context);
    for (Svc::ClientContext* given : {static_cast<Svc::ClientContext*>(nullptr), context}) {
        int small = 0;
        int large = 0;
        {
            CallbackArgument inStorage{DestructionCounter(&small)};
            CallbackArgument onHeap{
                [counter = DestructionCounter(&large), padding = std::array<char, 64>{}](const WCHAR*) {}};
            EXPECT_EQ(static_cast<void*>(inStorage.get()->target), static_cast<void*>(inStorage.get()->storage));
            EXPECT_NE(static_cast<void*>(onHeap.get()->target), static_cast<void*>(onHeap.get()->storage));
            for (CallbackArgument* callback : {&inStorage, &onHeap}) {
                WCHAR* out = nullptr;
                service->ExecuteCommand(given, 3, request.c_str(), &out, callback->get(), nullptr);
                service->FreeOutString(out);
            }
            EXPECT_EQ(small, 1);
            EXPECT_EQ(large, 1);
        }
        EXPECT_EQ(small, 1);  // the wrappers do not destroy again what the module destroyed
        EXPECT_EQ(large, 1);
    }
    service->ReleaseClientContext(&context);
}
