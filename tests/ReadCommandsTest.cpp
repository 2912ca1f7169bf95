// Ids 0, 4, 8 and 128 against the registry, with the data written directly: every type
// in its JSON form, the failures each step reports, and the whitelist in read mode.
#include "tests/JsonTestSupport.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

// The value object id 4 answers for one value, or the status when it fails.
std::string ValueObject(const LoadedService& service, const ScratchKey& key, const std::string& name,
                        bool expand = false) {
    const std::string request = "{\"keyPath\":" + Quote(key.Path()) + ",\"regKeyValueName\":" + Quote(name) +
                                ",\"expandString\":" + (expand ? "true}" : "false}");
    const Reply reply = Execute(service.get(), 4, request);
    if (reply.status != Svc::Success) return "status " + std::to_string(reply.status);
    const std::string prefix = "{\"result\":{" + Quote(name) + ":";
    EXPECT_EQ(reply.text.rfind(prefix, 0), 0u) << reply.text;
    return reply.text.substr(prefix.size(), reply.text.size() - prefix.size() - 2);
}

}  // namespace

TEST(ReadCommands, EachTypeReadsInItsJsonFormExpandedOrNotWithinAFixedBuffer) {
    ScratchKey key("ReadTypes");
    key.SetString("Text", "hello \xC3\xA9");
    key.SetString("Path", "%SystemRoot%\\x", REG_EXPAND_SZ);
    key.SetString("Long", std::string(200, 'L'));
    key.SetValue("List", REG_MULTI_SZ, UnitBytes(W(std::string("a\0\0bc\0\0", 7))));
    // 129 units of expanded text and its terminator need 260 bytes: the most that fits.
    key.SetString("Fits", "%SystemRoot%" + std::string(129 - 10, 'x'), REG_EXPAND_SZ);
    key.SetString("TooLong", "%SystemRoot%" + std::string(130 - 10, 'x'), REG_EXPAND_SZ);
    key.SetValue("Big", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0});
    LoadedService service;
    const std::string failed = "status " + std::to_string(Svc::GeneralFailure);
    const struct {
        const char* name;
        bool expand;
        std::string object;
    } rows[] = {
        {"Path", false, R"({"dataType":2,"valueData":"%SystemRoot%\\x"})"},
        // Expanded, it keeps its type; expansion concerns REG_EXPAND_SZ alone, so other
        // types read whole at their stored size, longer than the expansion buffer or not.
        {"Path", true, R"({"dataType":2,"valueData":"C:\\windows\\x"})"},
        {"Text", true, R"({"dataType":1,"valueData":"hello é"})"},
        {"Long", true, "{\"dataType\":1,\"valueData\":\"" + std::string(200, 'L') + "\"}"},
        {"List", true, R"({"dataType":7,"valueData":["a","","bc"]})"},
        {"Fits", true, "{\"dataType\":2,\"valueData\":\"C:\\\\windows" + std::string(119, 'x') + "\"}"},
        // A read that does not fit ends the call before any conversion; unexpanded, the
        // stored size is used and the long text reads.
        {"TooLong", true, failed},
        {"TooLong", false, "{\"dataType\":2,\"valueData\":\"%SystemRoot%" + std::string(120, 'x') + "\"}"},
    };
    {
        LogCapture capture;
        for (const auto& row : rows)
            EXPECT_EQ(ValueObject(service, key, row.name, row.expand), row.object) << row.name;
        const std::string tooLong = kServicePrefix + "GetRegKeyValue failed on function RegGetValue with result 234";
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{tooLong});
    }
    // Windows reads every type under RRF_RT_ANY; Wine's RegGetValueW refuses the types
    // without a restriction flag of their own (REG_DWORD_BIG_ENDIAN, REG_LINK, ...)
    // with ERROR_UNSUPPORTED_TYPE, so there the read fails before any conversion.
    EXPECT_EQ(ValueObject(service, key, "Big"), WineBehaviour() ? failed : R"({"dataType":5,"valueData":256})");
}

// Id 0 answers whether the key opens, with no whitelist; the other reads need the
// read list (or an exempting policy) and a key that opens.
TEST(ReadCommands, EachFailingStepHasItsStatusAndWarning) {
    ScratchKey key("ReadFailures");
    key.CreateKey("Present\\Deeper");
    key.SetValue("Empty", REG_BINARY, Bytes{});
    key.SetValue("None", REG_NONE, Bytes{1, 2});
    LoadedService service;
    const std::string conexant = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer";  // the write list's only
    const char* yes = "{\"result\":true}";
    const char* no = "{\"result\":false}";
    ExpectReplies(service.get(), {
        {0, Req::Key(key.Path("Present")), Svc::Success, yes, {}},
        {0, Req::Key(key.Path("present\\DEEPER")), Svc::Success, yes, {}},  // the registry folds case
        {0, Req::Key(key.Path("Missing\\Deeper")), Svc::Success, no, {}},
        {8, Req::Key(key.Path("Present\\Deeper")), Svc::Success, "{\"result\":{}}", {}},  // an empty key
        {128, Req::Key(key.Path("Present\\Deeper")), Svc::Success, "{\"result\":{}}", {}},
        {0, Req::Key("HKEY_LOCAL_MACHINE"), Svc::Success, yes, {}},
        {0, Req::Key("HKEY_LOCAL_MACHINE\\SYSTEM"), Svc::Success, yes, {}},  // in neither list: still answered
        // the second backslash stays in the subkey, which the registry refuses
        {0, Req::Key("HKEY_LOCAL_MACHINE\\\\SOFTWARE"), Svc::Success, no, {}},
        {0, Req::Key("HKEY_LOCAL_MACHINE/SOFTWARE"), Svc::RootKeyNotFound, "{}",
         {kServicePrefix + "CheckRegistryPathExists - unable to get root key from keyPath: HKEY_LOCAL_MACHINE/SOFTWARE"}},
        {4, Req::Value(key.Path(), "Missing"), Svc::GeneralFailure, "{}",
         {kServicePrefix + "ReadRegistryValue failed on function RegQueryValueEx with result 2"}},
        {4, Req::Value(key.Path("Nope"), "x"), Svc::OpenKeyFailed, "{}",
         {kServicePrefix + "ReadRegistryValue failed on function RegOpenKeyEx with result 2"}},
        {4, Req::Value(key.Path(), "Empty"), Svc::GeneralFailure, "{}",
         {kServicePrefix + "WriteRegValuetoJson - value size of collection $s cannot be 0",
          kServicePrefix + "GetRegKeyValue - Empty unable to write json value for $s"}},
        {4, Req::Value(key.Path(), "None"), Svc::GeneralFailure, "{}",
         {kServicePrefix + "GetRegKeyValue - None unable to write json value for $s"}},
        {8, Req::Key(key.Path("Nope")), Svc::OpenKeyFailed, "{}",
         {kServicePrefix + "ReadRegistryValues failed on function RegOpenKeyEx with result 2"}},
        {128, Req::Key(key.Path("Nope")), Svc::OpenKeyFailed, "{}",
         {kServicePrefix + "ReadRegistrySubKeys failed on function RegOpenKeyEx with result 2"}},
        // Root names are exact even though the whitelist folds case.
        {8, Req::Key("hkey_local_machine\\SOFTWARE\\QV"), Svc::RootKeyNotFound, "{}",
         {kServicePrefix + "ReadRegistryValues - unable to get root key from keyPath: hkey_local_machine"}},
        {128, Req::Key(conexant), Svc::NotWhiteListed, "{}",
         {kServicePrefix + "ReadRegistrySubKeys - unable to get root key from keyPath: " + conexant}},
        {8, Req::Key(key.Path()), Svc::Success, "{\"result\":{}}",  // the unconvertible values are left out
         {kServicePrefix + "WriteRegValuetoJson - value size of collection $s cannot be 0",
          kServicePrefix + "GetRegKeyValue - Empty unable to write json value for $s",
          kServicePrefix + "GetRegKeyValue - None unable to write json value for $s"}},
    });
}

TEST(ReadCommands, AllValuesAndAllSubkeysOfABigKey) {
    ScratchKey key("ReadMany");
    for (int i = 0; i < 60; ++i) {
        key.SetValue("Value" + std::to_string(i), REG_DWORD, Bytes{static_cast<BYTE>(i), 0, 0, 0});
        if (i < 40) key.CreateKey("Sub" + std::to_string(i) + "\\Deeper");
    }
    key.SetString("", "default");
    key.SetValue("Skipped", REG_NONE, Bytes{1});  // cannot be converted: left out
    LoadedService service;
    // Enumeration order differs between Windows and Wine: each member is looked up by name.
    const rapidjson::Document values = ParseReply(Execute(service.get(), 8, Req::Key(key.Path())).text);
    ASSERT_EQ(values["result"].MemberCount(), 61u);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(values["result"][("Value" + std::to_string(i)).c_str()]["valueData"].GetInt(), i);
    EXPECT_STREQ(values["result"][""]["valueData"].GetString(), "default");
    const rapidjson::Document subkeys = ParseReply(Execute(service.get(), 128, Req::Key(key.Path())).text);
    ASSERT_EQ(subkeys["result"].MemberCount(), 40u);
    for (int i = 0; i < 40; ++i)  // names only, never deeper
        EXPECT_TRUE(subkeys["result"][("Sub" + std::to_string(i)).c_str()].ObjectEmpty()) << i;
}

// An answer of 65536 characters goes out whole; one more is refused, never cut. Values
// of a million characters stop the call at its JSON memory bound, long before the answer
// would be serialised.
TEST(ReadCommands, LongAnswersAreRefusedWholeNeverCut) {
    ScratchKey key("ReadLong");
    key.SetString("V", "x");
    LoadedService service;
    const std::size_t overhead = Execute(service.get(), 4, Req::Value(key.Path(), "V")).text.size() - 1;
    key.SetString("V", std::string(65536 - overhead, 'x'));
    const Reply longest = Execute(service.get(), 4, Req::Value(key.Path(), "V"));
    EXPECT_EQ(longest.status, Svc::Success);
    EXPECT_EQ(longest.text.size(), 65536u);
    key.SetString("V", std::string(65537 - overhead, 'x'));
    LogCapture log;
    const Reply over = Execute(service.get(), 4, Req::Value(key.Path(), "V"));
    EXPECT_EQ(over.status, Svc::GeneralFailure);
    EXPECT_FALSE(over.hasText);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{kServicePrefix + "ExecuteCommand - response of 65537 characters "
                                                                        "refused, over the bound of 65536"});

    for (const char* name : {"A", "B", "C", "D", "E"}) key.SetString(name, std::string(1000000, 'y'));
    log.Clear();
    const Reply all = Execute(service.get(), 8, Req::Key(key.Path()));
    EXPECT_EQ(all.status, Svc::GeneralFailure);
    EXPECT_FALSE(all.hasText);
    ASSERT_FALSE(log.Messages().empty());
    EXPECT_NE(log.Messages().back().find("bound on JSON memory"), std::string::npos) << log.Messages().back();
}
