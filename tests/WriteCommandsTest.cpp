// Ids 2 and 16: keys and values created through the write whitelist, every writable
// type in the JSON form the reads produce, and what a refused write leaves behind; and
// the host's policy, which lifts the lists for every command.
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

TEST(WriteCommands, EachTypeIsStoredAsTheRegistryFormOfItsJsonOrNotAtAll) {
    ScratchKey key("WriteTypes");
    LoadedService service;
    LogCapture capture;
    // (What the reads give for each type is written back to the same bytes: RoundTripTest.)
    struct Row {
        int type;
        std::string json;
        Bytes bytes;  // empty: refused, nothing written
    };
    const Row rows[] = {
        {REG_SZ, R"("ab\u0000cd")", UnitBytes(W(std::string("ab\0", 3)))},  // only what precedes a NUL
        {REG_BINARY, R"("AA\r\nEC\r\n")", Bytes{0, 1, 2}},  // the encoder's line breaks are accepted
        {REG_DWORD, "4294967295", {}},  // does not fit a signed 32-bit integer
        {REG_DWORD, "1.5", {}},
        {REG_DWORD, "1e2", {}},  // the parser stores an exponent form as a double
        {REG_DWORD, R"("1")", {}},
        {REG_QWORD, "9223372036854775808", {}},
        {REG_SZ, "5", {}},
        {REG_MULTI_SZ, R"(["a",5])", {}},
        {REG_MULTI_SZ, R"("a")", {}},
        {REG_BINARY, R"("not base64!")", {}},
        {REG_BINARY, "[]", {}},
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string name = "V" + std::to_string(n++);
        const Reply reply = Execute(service.get(), 16, Req::Write(key.Path(), name, row.type, row.json));
        EXPECT_EQ(reply.status, row.bytes.empty() ? Svc::GeneralFailure : Svc::Success) << row.json;
        EXPECT_EQ(reply.text, row.bytes.empty() ? "{}" : "{\"result\":true}") << row.json;
        DWORD type = 0;
        Bytes data;
        EXPECT_EQ(key.GetValue(name, &type, &data), !row.bytes.empty()) << row.json;
        EXPECT_EQ(data, row.bytes) << row.json;
        EXPECT_EQ(type, row.bytes.empty() ? 0u : static_cast<DWORD>(row.type)) << row.json;
    }
    // Only the undecodable text has a message of its own.
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{kServicePrefix + "WriteValueToRegistry - unable to 64 base encode binary"});
}

TEST(WriteCommands, KeysAreCreatedWithTheirParentsAndAFailedValueLeavesItsKey) {
    ScratchKey key("WriteKeys");
    LoadedService service;
    ExpectReplies(service.get(), {
        {2, Req::Key(key.Path("A\\B\\C")), Svc::Success, "{\"result\":true}",
         {kServicePrefix + "WriteRegistryKey - create reg key at key path: HKEY_LOCAL_MACHINE"}},
        {2, Req::Key(key.Path("A")), Svc::Success, "{\"result\":true}",  // an existing key is opened the same way
         {kServicePrefix + "WriteRegistryKey - create reg key at key path: HKEY_LOCAL_MACHINE"}},
        {16, Req::Write(key.Path("New\\Key"), "V", REG_DWORD, R"("x")"), Svc::GeneralFailure, "{}", {}},
    });
    EXPECT_TRUE(key.KeyExists("A\\B\\C"));
    EXPECT_TRUE(key.KeyExists("New\\Key"));
}

TEST(WriteCommands, TheWriteWhiteListGatesBothCommands) {
    ScratchKey key("WriteWhiteList");
    LoadedService service;
    // Readable, not writable: refused before anything is created.
    const std::string readOnly = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\KestraneWriteTest";
    ExpectReplies(service.get(), {
        {2, Req::Key(readOnly), Svc::NotWhiteListed, "{}",
         {kServicePrefix + "WriteRegistryKey - unable to get root key from keyPath: " + readOnly}},
        {16, Req::Write(readOnly, "V", REG_DWORD, "1"), Svc::NotWhiteListed, "{}",
         {kServicePrefix + "WriteRegistryValue - unable to get root key from keyPath: " + readOnly}},
        {0, Req::Key(readOnly), Svc::Success, "{\"result\":false}", {}},
        // The lists fold case, root names do not.
        {2, Req::Key("hkey_local_machine\\software\\qv\\KestraneTest\\WriteWhiteList"), Svc::RootKeyNotFound, "{}",
         {kServicePrefix + "WriteRegistryKey - unable to get root key from keyPath: hkey_local_machine"}},
    });
}

// The host may exempt a call from the lists: every command then acts on a key outside
// them. A refusing policy is asked once and leaves the lists in force.
TEST(WriteCommands, TheHostsPolicyExemptsEveryCommandFromTheListsOrLeavesThemInForce) {
    LoadedService service;
    const std::string outside = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KestranePolicy";  // in neither list
    const std::string value = R"({"result":{"V":{"dataType":4,"valueData":1}}})";
    FixedPolicy exempt(true);
    ExpectReplies(service.get(), {
        {2, Req::Key(outside + "\\Sub"), Svc::Success, "{\"result\":true}",
         {kServicePrefix + "WriteRegistryKey - create reg key at key path: HKEY_LOCAL_MACHINE"}},
        {16, Req::Write(outside, "V", REG_DWORD, "1"), Svc::Success, "{\"result\":true}", {}},
        {4, Req::Value(outside, "V"), Svc::Success, value.c_str(), {}},
        {8, Req::Key(outside), Svc::Success, value.c_str(), {}},
        {128, Req::Key(outside), Svc::Success, "{\"result\":{\"Sub\":{}}}", {}},
        {64, Req::Value(outside, "V"), Svc::Success, "{\"result\":true}", {}},
        {32, Req::Key(outside + "\\Sub"), Svc::Success, "{\"result\":true}", {}},
        {8, Req::Key(outside), Svc::Success, "{\"result\":{}}", {}},  // the value went
        {0, Req::Key(outside + "\\Sub"), Svc::Success, "{\"result\":false}", {}},  // and so did the key
    }, &exempt);
    // A request every record accepts, so that only the lists can refuse it.
    const std::string request = Req::Write(outside, "V", REG_DWORD, "1");
    for (int32_t id : {2, 4, 8, 16, 32, 64, 128}) {
        FixedPolicy refuse(false);
        EXPECT_EQ(Execute(service.get(), id, request, &refuse).status, Svc::NotWhiteListed) << id;
        EXPECT_EQ(refuse.asked, 1) << id;
    }
    DeleteTree(HKEY_LOCAL_MACHINE, W("SOFTWARE\\KestranePolicy"));
}
