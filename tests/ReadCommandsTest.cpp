// Ids 4, 8 and 128 against the registry, with the data written directly: every type
// in its JSON form, the failures each step reports, and the whitelist in read mode.
#include "tests/JsonText.h"
#include "tests/RegistryFixture.h"

#include <set>

using namespace KestraneTest;

namespace {

const std::string kService = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

std::string ReadValue(const std::string& path, const std::string& name, bool expand = false) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) +
           (expand ? ",\"expandString\":true}" : "}");
}

std::string KeyOnly(const std::string& path) { return "{\"keyPath\":" + Quote(path) + "}"; }

// The value object id 4 answers for one value, or the status when it fails.
std::string ValueObject(const LoadedService& service, const ScratchKey& key, const std::string& name,
                        bool expand = false) {
    const Reply reply = Execute(service.get(), 4, ReadValue(key.Path(), name, expand));
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
    key.SetValue("Ones", REG_DWORD, Bytes(4, 0xFF));
    key.SetValue("Big", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 0});
    key.SetValue("Wide", REG_QWORD, Bytes(8, 0xFF));
    key.SetValue("Blob", REG_BINARY, Bytes(49, 0x5A));
    key.SetValue("List", REG_MULTI_SZ, UnitBytes(W(std::string("a\0\0bc\0\0", 7))));
    LoadedService service;

    EXPECT_EQ(ValueObject(service, key, "Text"), R"({"dataType":1,"valueData":"hello é"})");
    EXPECT_EQ(ValueObject(service, key, "Path"), R"({"dataType":2,"valueData":"%SystemRoot%\\x"})");
    // Expanded, it keeps its type.
    EXPECT_EQ(ValueObject(service, key, "Path", true), R"({"dataType":2,"valueData":"C:\\windows\\x"})");
    // Expansion only concerns REG_EXPAND_SZ.
    EXPECT_EQ(ValueObject(service, key, "Text", true), R"({"dataType":1,"valueData":"hello é"})");
    EXPECT_EQ(ValueObject(service, key, "Ones"), R"({"dataType":4,"valueData":-1})");
    // Windows reads every type under RRF_RT_ANY; Wine's RegGetValueW refuses the types
    // without a restriction flag of their own (REG_DWORD_BIG_ENDIAN, REG_LINK, ...)
    // with ERROR_UNSUPPORTED_TYPE, so there the read fails before any conversion.
    EXPECT_EQ(ValueObject(service, key, "Big"), WineBehaviour() ? "status " + std::to_string(Svc::GeneralFailure)
                                                                    : R"({"dataType":5,"valueData":256})");
    EXPECT_EQ(ValueObject(service, key, "Wide"), R"({"dataType":11,"valueData":-1})");
    EXPECT_EQ(ValueObject(service, key, "List"), R"({"dataType":7,"valueData":["a","","bc"]})");
    const std::string blob = ValueObject(service, key, "Blob");
    EXPECT_EQ(blob.rfind(R"({"dataType":3,"valueData":")", 0), 0u) << blob;
    EXPECT_NE(blob.find("\\r\\n\"}"), std::string::npos) << blob;
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
                                          kService + "GetRegKeyValue failed on function RegGetValue with result 234",
                                      }));
    }
    // Unexpanded, the stored size is used and the long text reads.
    EXPECT_EQ(ValueObject(service, key, "TooLong").size(), std::string(R"({"dataType":2,"valueData":""})").size() +
                                                               12 + 120);
}

TEST(ReadCommands, EachFailingStepHasItsStatusAndWarning) {
    ScratchKey key("ReadFailures");
    key.SetValue("Empty", REG_BINARY, Bytes{});
    key.SetValue("None", REG_NONE, Bytes{1, 2});
    LoadedService service;
    LogCapture capture;
    struct Row {
        int32_t id;
        std::string request;
        uint32_t status;
        std::string log;  // the last line logged
    };
    const Row rows[] = {
        {4, ReadValue(key.Path(), "Missing"), Svc::GeneralFailure,
         kService + "ReadRegistryValue failed on function RegQueryValueEx with result 2"},
        {4, ReadValue(key.Path("Nope"), "x"), Svc::OpenKeyFailed,
         kService + "ReadRegistryValue failed on function RegOpenKeyEx with result 2"},
        {4, ReadValue(key.Path(), "Empty"), Svc::GeneralFailure,
         kService + "GetRegKeyValue - Empty unable to write json value for $s"},
        {4, ReadValue(key.Path(), "None"), Svc::GeneralFailure,
         kService + "GetRegKeyValue - None unable to write json value for $s"},
        {8, KeyOnly(key.Path("Nope")), Svc::OpenKeyFailed,
         kService + "ReadRegistryValues failed on function RegOpenKeyEx with result 2"},
        {128, KeyOnly(key.Path("Nope")), Svc::OpenKeyFailed,
         kService + "ReadRegistrySubKeys failed on function RegOpenKeyEx with result 2"},
        // Root names are exact even though the whitelist folds case.
        {4, ReadValue("hkey_local_machine\\SOFTWARE\\QV\\x", "v"), Svc::RootKeyNotFound,
         kService + "ReadRegistryValue - unable to get root key from keyPath: hkey_local_machine"},
        {8, KeyOnly("hkey_local_machine\\SOFTWARE\\QV"), Svc::RootKeyNotFound,
         kService + "ReadRegistryValues - unable to get root key from keyPath: hkey_local_machine"},
        // Only the write list holds this one.
        {128, KeyOnly("HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer"), Svc::NotWhiteListed,
         kService +
             "ReadRegistrySubKeys - unable to get root key from keyPath: HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer"},
    };
    for (const Row& row : rows) {
        capture.Clear();
        const Reply reply = Execute(service.get(), row.id, row.request);
        EXPECT_EQ(reply.status, row.status) << row.request;
        EXPECT_EQ(reply.text, "{}") << row.request;
        const std::vector<std::string> log = capture.Messages();
        ASSERT_FALSE(log.empty()) << row.request;
        EXPECT_EQ(log.back(), row.log);
    }
}

TEST(ReadCommands, AnExemptingPolicySkipsTheWhiteList) {
    ScratchKey key("ReadPolicy");
    LoadedService service;
    const std::string outside = KeyOnly("HKEY_LOCAL_MACHINE\\SYSTEM");
    FixedPolicy no(false);
    FixedPolicy yes(true);
    EXPECT_EQ(Execute(service.get(), 128, outside, &no).status, Svc::NotWhiteListed);
    EXPECT_EQ(no.asked, 1);
    const Reply listed = Execute(service.get(), 128, outside, &yes);
    EXPECT_EQ(listed.status, Svc::Success);
    EXPECT_TRUE(ParseReply(listed.text)["result"].HasMember("CurrentControlSet")) << listed.text;
    EXPECT_EQ(Execute(service.get(), 8, outside, &yes).status, Svc::Success);
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

    const Reply values = Execute(service.get(), 8, KeyOnly(key.Path()));
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
    EXPECT_FALSE(result.HasMember("Skipped"));

    const Reply subkeys = Execute(service.get(), 128, "{\"keyPath\":" + Quote(key.Path()) + ",\"expandString\":true}");
    ASSERT_EQ(subkeys.status, Svc::Success);
    const rapidjson::Document s = ParseReply(subkeys.text);
    ASSERT_EQ(s["result"].MemberCount(), 40u);
    for (auto it = s["result"].MemberBegin(); it != s["result"].MemberEnd(); ++it) {
        EXPECT_EQ(std::string(it->name.GetString()).rfind("Sub", 0), 0u);
        EXPECT_TRUE(it->value.IsObject() && it->value.ObjectEmpty());  // names only, never deeper
    }
}

TEST(ReadCommands, AnEmptyKeyHasAnEmptyResult) {
    ScratchKey key("ReadEmpty");
    LoadedService service;
    EXPECT_EQ(Execute(service.get(), 8, KeyOnly(key.Path())).text, "{\"result\":{}}");
    EXPECT_EQ(Execute(service.get(), 128, KeyOnly(key.Path())).text, "{\"result\":{}}");
}

// An answer of 65536 characters goes out whole; one more is refused, never cut. Values
// of a million characters stop the call at its JSON memory bound, long before the answer
// would be serialised.
TEST(ReadCommands, LongAnswersAreRefusedWholeNeverCut) {
    ScratchKey key("ReadLong");
    key.SetString("V", "x");
    LoadedService service;
    const std::size_t overhead = Execute(service.get(), 4, ReadValue(key.Path(), "V")).text.size() - 1;
    key.SetString("V", std::string(65536 - overhead, 'x'));
    const Reply longest = Execute(service.get(), 4, ReadValue(key.Path(), "V"));
    EXPECT_EQ(longest.status, Svc::Success);
    EXPECT_EQ(longest.text.size(), 65536u);
    key.SetString("V", std::string(65537 - overhead, 'x'));
    LogCapture log;
    const Reply over = Execute(service.get(), 4, ReadValue(key.Path(), "V"));
    EXPECT_EQ(over.status, Svc::GeneralFailure);
    EXPECT_FALSE(over.hasText);
    ASSERT_FALSE(log.Messages().empty());
    EXPECT_EQ(log.Messages().back(), kService + "ExecuteCommand - response of 65537 characters refused, over the bound "
                                            "of 65536");

    for (const char* name : {"A", "B", "C", "D", "E"}) key.SetString(name, std::string(1000000, 'y'));
    log.Clear();
    const Reply all = Execute(service.get(), 8, KeyOnly(key.Path()));
    EXPECT_EQ(all.status, Svc::GeneralFailure);
    EXPECT_FALSE(all.hasText);
    ASSERT_FALSE(log.Messages().empty());
    EXPECT_NE(log.Messages().back().find("bound on JSON memory"), std::string::npos) << log.Messages().back();
}
