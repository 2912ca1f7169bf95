// Ids 0, 4, 8 and 128 against the registry, with the data written directly: every type
// in its JSON form, the failures each step reports, and the whitelist in read mode.
#include "tests/JsonTestSupport.h"
#include "tests/RegistryFixture.h"

#include <set>

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

TEST(ReadCommands, EveryTypeReadsInItsJsonForm) {
    ScratchKey key("ReadTypes");
    key.SetString("Text", "hello \xC3\xA9");
    key.SetString("Path", "%SystemRoot%\\x", REG_EXPAND_SZ);
    key.SetString("Long", std::string(200, 'L'));
    key.SetValue("Ones", REG_DWORD, Bytes(4, 0xFF));
    key.SetValue("Big", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0});
    key.SetValue("Wide", REG_QWORD, Bytes(8, 0xFF));
    key.SetValue("List", REG_MULTI_SZ, UnitBytes(W(std::string("a\0\0bc\0\0", 7))));
    LoadedService service;

    EXPECT_EQ(ValueObject(service, key, "Text"), R"({"dataType":1,"valueData":"hello é"})");
    EXPECT_EQ(ValueObject(service, key, "Path"), R"({"dataType":2,"valueData":"%SystemRoot%\\x"})");
    // Expanded, it keeps its type; expansion concerns REG_EXPAND_SZ alone, so other
    // types read whole at their stored size, longer than the expansion buffer or not.
    EXPECT_EQ(ValueObject(service, key, "Path", true), R"({"dataType":2,"valueData":"C:\\windows\\x"})");
    EXPECT_EQ(ValueObject(service, key, "Text", true), R"({"dataType":1,"valueData":"hello é"})");
    EXPECT_EQ(ValueObject(service, key, "Long", true), "{\"dataType\":1,\"valueData\":\"" + std::string(200, 'L') + "\"}");
    EXPECT_EQ(ValueObject(service, key, "List", true), R"({"dataType":7,"valueData":["a","","bc"]})");
    EXPECT_EQ(ValueObject(service, key, "Ones"), R"({"dataType":4,"valueData":-1})");
    // Windows reads every type under RRF_RT_ANY; Wine's RegGetValueW refuses the types
    // without a restriction flag of their own (REG_DWORD_BIG_ENDIAN, REG_LINK, ...)
    // with ERROR_UNSUPPORTED_TYPE, so there the read fails before any conversion.
    EXPECT_EQ(ValueObject(service, key, "Big"), WineBehaviour() ? "status " + std::to_string(Svc::GeneralFailure)
                                                                    : R"({"dataType":5,"valueData":256})");
    EXPECT_EQ(ValueObject(service, key, "Wide"), R"({"dataType":11,"valueData":-1})");
}

TEST(ReadCommands, ExpansionUsesAFixedBufferOf260Bytes) {
    ScratchKey key("ReadExpand");
    // 129 units of expanded text and its terminator need 260 bytes: the most that fits.
    key.SetString("Fits", "%SystemRoot%" + std::string(129 - 10, 'x'), REG_EXPAND_SZ);
    key.SetString("TooLong", "%SystemRoot%" + std::string(130 - 10, 'x'), REG_EXPAND_SZ);
    LoadedService service;
    EXPECT_EQ(ValueObject(service, key, "Fits", true),
              "{\"dataType\":2,\"valueData\":\"C:\\\\windows" + std::string(119, 'x') + "\"}");
    {
        // A read that does not fit ends the call before any conversion.
        LogCapture capture;
        EXPECT_EQ(ValueObject(service, key, "TooLong", true), "status " + std::to_string(Svc::GeneralFailure));
        EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                          kServicePrefix + "GetRegKeyValue failed on function RegGetValue with result 234",
                                      }));
    }
    // Unexpanded, the stored size is used and the long text reads.
    EXPECT_EQ(ValueObject(service, key, "TooLong"), "{\"dataType\":2,\"valueData\":\"%SystemRoot%" +
                                                        std::string(120, 'x') + "\"}");
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

    // An exempting policy skips the list; a refusing one is asked once.
    FixedPolicy refuse(false);
    FixedPolicy exempt(true);
    EXPECT_EQ(Execute(service.get(), 128, Req::Key("HKEY_LOCAL_MACHINE\\SYSTEM"), &refuse).status, Svc::NotWhiteListed);
    EXPECT_EQ(refuse.asked, 1);
    const Reply listed = Execute(service.get(), 128, Req::Key("HKEY_LOCAL_MACHINE\\SYSTEM"), &exempt);
    EXPECT_TRUE(ParseReply(listed.text)["result"].HasMember("CurrentControlSet")) << listed.text;
    EXPECT_EQ(Execute(service.get(), 8, Req::Key("HKEY_LOCAL_MACHINE\\SYSTEM"), &exempt).status, Svc::Success);
}

TEST(ReadCommands, AllValuesAndAllSubkeysOfABigKey) {
    ScratchKey key("ReadMany");
    std::set<std::string> names;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "Value" + std::to_string(i);
        key.SetValue(name, REG_DWORD, Bytes{static_cast<BYTE>(i), 0, 0, 0});
        names.insert(name);
        if (i < 40) key.CreateKey("Sub" + std::to_string(i) + "\\Deeper");
    }
    key.SetString("", "default");
    key.SetValue("Skipped", REG_NONE, Bytes{1});  // cannot be converted: left out
    LoadedService service;

    const Reply values = Execute(service.get(), 8, Req::Key(key.Path()));
    ASSERT_EQ(values.status, Svc::Success);
    const rapidjson::Document v = ParseReply(values.text);
    const rapidjson::Value& result = v["result"];
    // Enumeration order differs between Windows and Wine: compare as a set.
    EXPECT_EQ(result.MemberCount(), 61u);
    for (const std::string& name : names) {
        ASSERT_TRUE(result.HasMember(name.c_str())) << name;
        EXPECT_EQ(result[name.c_str()]["valueData"].GetInt(), std::stoi(name.substr(5)));
    }
    ASSERT_TRUE(result.HasMember(""));
    EXPECT_STREQ(result[""]["valueData"].GetString(), "default");

    const Reply subkeys = Execute(service.get(), 128, Req::Key(key.Path()));
    ASSERT_EQ(subkeys.status, Svc::Success);
    const rapidjson::Document s = ParseReply(subkeys.text);
    ASSERT_EQ(s["result"].MemberCount(), 40u);
    for (auto it = s["result"].MemberBegin(); it != s["result"].MemberEnd(); ++it) {
        EXPECT_EQ(std::string(it->name.GetString()).rfind("Sub", 0), 0u);
        EXPECT_TRUE(it->value.IsObject() && it->value.ObjectEmpty());  // names only, never deeper
    }
    key.CreateKey("Empty");
    EXPECT_EQ(Execute(service.get(), 8, Req::Key(key.Path("Empty"))).text, "{\"result\":{}}");
    EXPECT_EQ(Execute(service.get(), 128, Req::Key(key.Path("Empty"))).text, "{\"result\":{}}");
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
