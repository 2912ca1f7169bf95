// The host's interface as any client may call it, without the client library: the
// request and the client id travel counted, and the host refuses a count beyond its
// range before it takes the text, and a text without its NUL.
#include "KestraneHost.h"
#include "rpc/EndpointBinding.h"
#include "rpc/RpcGuard.h"
#include "tests/rpc/ProbeProcess.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

namespace {

TEST(CountedText, OutOfRangeOrUnterminatedTextsAreRefused) {
    const std::wstring endpoint = L"kestrane-counted-" + std::to_wstring(GetCurrentProcessId());
    KestraneTest::ProbeProcess host({L"run", L"--endpoint", endpoint}, L"kestrane-host.exe");
    ASSERT_EQ(host.StartError(), 0u);
    ASSERT_TRUE(host.Resume());
    handle_t binding = nullptr;
    ASSERT_EQ(Kestrane::Host::BindToEndpoint(endpoint, &binding), 0u);
    unsigned long pid = 0;
    for (int attempt = 0; attempt < 200 && KestraneRpcGuarded([&] { ::ServerIdentity(binding, &pid); }) != 0;
         ++attempt) {
        Sleep(50);
    }
    ASSERT_EQ(pid, host.Pid()) << host.Output();

    KestraneSession session = nullptr;
    long result = -1;
    const std::wstring id(KESTRANE_MAX_CLIENT_ID_UNITS + 1, L'i');  // no NUL anywhere
    // The stub's range check (RPC_S_INVALID_BOUND) reaches the client as bad stub data.
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding, id.size(), id.c_str(), &session); }),
              static_cast<unsigned long>(RPC_X_BAD_STUB_DATA));
    EXPECT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding, id.size() - 1, id.c_str(), &session); }), 0u);
    EXPECT_EQ(result, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(session, nullptr);
    ASSERT_EQ(KestraneRpcGuarded([&] { result = ::OpenSession(binding, 3, L"id", &session); }), 0u);
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
    RpcBindingFree(&binding);
}

}  // namespace
