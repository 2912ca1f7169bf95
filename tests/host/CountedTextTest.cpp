// The host's interface as any client may call it, without the client library: the
// request and the client id travel counted, and the host refuses a count beyond its
// range before it takes the text, and a text without its NUL.
#include "KestraneHost.h"
#include "rpc/EndpointBinding.h"
#include "rpc/RpcGuard.h"
#include "tests/host/RunningHost.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// The host's interface bound directly, beside the host the fixture runs.
class CountedText : public KestraneTest::RunningHost {
protected:
    void SetUp() override {
        RunningHost::SetUp();
        ASSERT_EQ(Kestrane::Host::BindToEndpoint(endpoint_, &binding_), 0u);
    }
    void TearDown() override {
        if (binding_ != nullptr) RpcBindingFree(&binding_);
        RunningHost::TearDown();
    }

    handle_t binding_ = nullptr;
};

TEST_F(CountedText, OutOfRangeOrUnterminatedTextsAreRefused) {
    KestraneSession session = nullptr;
    long result = -1;
    const std::wstring id(KESTRANE_MAX_CLIENT_ID_UNITS + 1, L'i');  // no NUL anywhere
    // The stub's range check (RPC_S_INVALID_BOUND) reaches the client as bad stub data.
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding_, id.size(), id.c_str(), &session); }),
              static_cast<unsigned long>(RPC_X_BAD_STUB_DATA));
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding_, id.size() - 1, id.c_str(), &session); }), 0u);
    EXPECT_EQ(result, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(session, nullptr);
    ASSERT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding_, 3, L"id", &session); }), 0u);
    ASSERT_EQ(result, 0);

    unsigned long status = 0;
    wchar_t* response = nullptr;
    const std::wstring request(KESTRANE_MAX_REQUEST_UNITS + 1, L' ');
    EXPECT_EQ(KestraneRpcGuarded([&] {
                  result = ::Execute(session, 0, request.size(), request.c_str(), &status, &response);
              }),
              static_cast<unsigned long>(RPC_X_BAD_STUB_DATA));
    result = -1;
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::Execute(session, 0, 2, L"{}x", &status, &response); }), 0u);
    EXPECT_EQ(result, ERROR_INVALID_PARAMETER);
    // The session is still the host's: a request within the bounds is answered.
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::Execute(session, 7, 3, L"{}", &status, &response); }), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(status, 0x20000001u);
    MIDL_user_free(response);
    KestraneRpcGuarded([&] { ::CloseSession(&session); });
}

// A count beyond the range still brings its whole message to the host under Wine before
// the stub refuses it: sixteen at once are what the host's memory must bear.
TEST_F(CountedText, SixteenHugeRequestsAreRefusedAndTheHostServesOn) {
    constexpr std::size_t kHugeRequestUnits = (64u << 20) / sizeof(wchar_t);
    constexpr SIZE_T kPeakBound = SIZE_T{1536} << 20;
    const std::wstring request(kHugeRequestUnits, L'r');
    // Each must reach the host and none may run; the stub's refusal is the usual answer, but
    // a host busy taking in a gigabyte may also drop a connection, which runs nothing either.
    std::atomic<int> sent{0}, ran{0}, byStub{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 16; ++i) {
        senders.emplace_back([&] {
            handle_t binding = nullptr;
            if (Kestrane::Host::BindToEndpoint(endpoint_, &binding) != 0) return;
            KestraneSession session = nullptr;
            long result = -1;
            if (KestraneRpcGuarded([&] { result = ::OpenSession(binding, 5, L"huge", &session); }) == 0 && result == 0) {
                ++sent;
                unsigned long status = 0;
                wchar_t* response = nullptr;
                const unsigned long error = KestraneRpcGuarded([&] {
                    ::Execute(session, 0, static_cast<unsigned long>(request.size()), request.c_str(), &status,
                              &response);
                });
                if (error == 0) ++ran;
                if (error == RPC_X_BAD_STUB_DATA) ++byStub;
                KestraneRpcGuarded([&] { ::CloseSession(&session); });
            }
            RpcBindingFree(&binding);
        });
    }
    for (auto& sender : senders) sender.join();
    const SIZE_T peak = KestraneTest::MemoryOf(host_->Pid()).PeakWorkingSetSize;
    std::printf("host peak resident after 16 requests of 64 MiB: %zu MiB (%d refused by the stub)\n", peak >> 20,
                byStub.load());
    EXPECT_EQ(sent.load(), 16);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_GT(byStub.load(), 0);
    EXPECT_LT(peak, kPeakBound);
    // The host serves on: the fixture stops it through its interface.
}

}  // namespace
