// The read and write whitelists: prefix rule, component format check, case folding,
// and what an attacker might try next to an allowed prefix.
#include "access/KestraneServiceHelper.h"
#include "access/KestraneServiceWhiteList.h"
#include "access/WhiteListTables.h"
#include "json/RequestRecords.h"
#include "tests/JsonTestSupport.h"

using namespace KestraneTest;
using Svc::WhiteListAccessMode;
using Svc::Kestrane::KestraneServiceWhiteList;

namespace {

using Svc::Kestrane::WhiteListTables;

const std::string kQv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV";  // in both lists
constexpr const char* kBadFormat = "bad";                     // expect the bad-format line for this path

struct Case {
    std::string path;  // UTF-8; "\xED\xA0\x80" and the like are lone surrogates
    bool allowed;
    const char* log;   // nullptr: nothing logged
};

// The path as a log line shows it (long or odd paths are escaped and cut; LoggingTest).
std::string BadFormatLine(const WString& path) {
    const Qv::Corvane::Logging::LogArg arg(path.c_str());
    WString field(Qv::Corvane::Logging::FormatLogMessage(WIDE("%s"), &arg, 1, nullptr, 0), 0);
    Qv::Corvane::Logging::FormatLogMessage(WIDE("%s"), &arg, 1, field.data(), field.size() + 1);
    return "Qv::Corvane::Server::Services::Kestrane::KestraneServiceWhiteList.IsKeyPathInWhiteList - unable to check "
           "key path " + U8(field) + " bad format";
}

void Check(WhiteListAccessMode mode, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        LogCapture capture;
        const WString path = W(c.path);
        EXPECT_EQ(KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), WIDE("wl-client")), c.allowed)
            << c.path;
        const auto records = capture.Records();
        if (!c.log) {
            EXPECT_TRUE(records.empty()) << c.path;
            continue;
        }
        ASSERT_EQ(records.size(), 1u) << c.path;
        EXPECT_EQ(records[0].message, BadFormatLine(path)) << c.path;
        EXPECT_EQ(records[0].level, Qv::Corvane::Logging::LogLevel::Warning);
        EXPECT_EQ(records[0].clientId, "wl-client");
    }
}

// Rows that hold the same way in either mode.
std::vector<Case> CommonCases() {
    const std::string longTail(40000, 'a');
    return {
        {"hkey_local_machine\\software\\qv\\deeper\\key", true, nullptr},
        {kQv + "X", true, nullptr},  // a character prefix also allows the sibling QVX
        {kQv + "\\", true, nullptr},
        {kQv + "\\...\\x", true, nullptr},
        {kQv + "\\.hidden\\..x\\x..\\. .\\.. ", true, nullptr},
        {kQv + "\\\\x", true, nullptr},          // empty components are no traversal
        {kQv + "/../x", true, nullptr},          // '/' is part of a key name, not a separator
        {kQv + "\\\xEF\xBC\x8E\xEF\xBC\x8E\\x", true, nullptr},  // full-width dots are ordinary units
        {kQv + "\xF0\x9F\x98\x80", true, nullptr},                // non-BMP unit pair right after the prefix
        {kQv + "\xED\xA0\x80", true, nullptr},                    // lone high surrogate after the prefix
        {kQv + "\\" + longTail, true, nullptr},
        {kQv + "\\..\\SAM", false, kBadFormat},
        {kQv + "\\..", false, kBadFormat},
        {kQv + "\\.", false, kBadFormat},
        {kQv + "\\.\\x", false, kBadFormat},
        {kQv + "\\\\..\\x", false, kBadFormat},
        {kQv + "\\" + longTail + "\\..", false, kBadFormat},
        {"..\\" + kQv, false, kBadFormat},
        {"HKEY_LOCAL_MACHINE\\..\\SOFTWARE\\QV", false, kBadFormat},
        {"", false, kBadFormat},
        {"HKLM\\SOFTWARE\\QV", false, nullptr},
        {"\\" + kQv, false, nullptr},
        {" " + kQv, false, nullptr},
        {"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\QV", false, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE", false, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Q", false, nullptr},
        // Units that some case mappings fold to ASCII letters do not stand in for them.
        {"H\xE2\x84\xAA" "EY_LOCAL_MACHINE\\SOFTWARE\\QV", false, nullptr},   // U+212A KELVIN SIGN
        {"HKEY_LOCAL_MACH\xC4\xB0NE\\SOFTWARE\\QV", false, nullptr},          // U+0130
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\\xEF\xBC\xB1V", false, nullptr},     // full-width Q
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\xED\xA0\x80", false, nullptr},     // lone surrogate for the V
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\xF0\x9F\x98\x80", false, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QW", false, nullptr},
    };
}

}  // namespace

TEST(WhiteList, ReadMode) {
    std::vector<Case> cases = CommonCases();
    cases.insert(cases.end(), {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers", true, nullptr},
        {"HKEY_USERS\\S-1-5-18\\Control Panel\\International\\Geo", true, nullptr},
        {"hkey_classes_root\\local settings\\software\\microsoft\\windows\\currentversion\\appmodel\\repository\\"
         "packages\\p", true, nullptr},
        {"HKEY_CURRENT_USER\\Software\\Qv\\x", true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\mcafee\\oeminfo\\registration", true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer", false, nullptr},  // write list only
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\QV", false, nullptr},
    });
    Check(WhiteListAccessMode::Read, cases);
    // Every mode but Write reads the read list.
    Check(static_cast<WhiteListAccessMode>(1), {{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\x", true, nullptr},
                                                {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer", false, nullptr}});
    Check(static_cast<WhiteListAccessMode>(3), {{"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\x", true, nullptr}});
}

TEST(WhiteList, WriteMode) {
    std::vector<Case> cases = CommonCases();
    cases.insert(cases.end(), {
        {kQv, true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer\\x", true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Print\\x", true, nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV Inc\\System Properties\\x", true, nullptr},  // through write entry 1
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\wow6432node\\google\\chrome\\extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf",
         true, nullptr},
        // Read list only.
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false, nullptr},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers", false, nullptr},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", false, nullptr},
        {"HKEY_USERS\\S-1-5-18\\Control Panel\\International\\Geo", false, nullptr},
        {"HKEY_CURRENT_USER\\SOFTWARE\\Dropbox", false, nullptr},
        // A "k" entry letter spelt as KELVIN SIGN.
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Google\\Chrome\\Extensions\\\xE2\x84\xAA" "embcdlbgbcnnchcnbdhbmbhbejnedjf",
         false, nullptr},
    });
    Check(WhiteListAccessMode::Write, cases);
}

TEST(WhiteList, NullPathAndTheTablesThemselves) {
    LogCapture capture;
    EXPECT_FALSE(KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, nullptr, WIDE("c")));
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{"Qv::Corvane::Server::Services::UtilHelper.NullChecker - keyPath cannot be null"});

    const auto& read = WhiteListTables::Read();
    const auto& write = WhiteListTables::Write();
    ASSERT_EQ(read.size(), 39u);
    ASSERT_EQ(write.size(), 12u);
    // Spot checks of order and spelling, mixed case included.
    EXPECT_EQ(U8(read[0]), "HKEY_CURRENT_USER\\SOFTWARE\\QV");
    EXPECT_EQ(U8(read[8]), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\StarSoftComm");
    EXPECT_EQ(U8(read[16]), "HKEY_LOCAL_MACHINE\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.qv.linkprobe");
    EXPECT_EQ(U8(read[32]), "HKEY_CLASSES_ROOT\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                            "AppModel\\Repository\\Packages");
    EXPECT_EQ(U8(read[38]), "HKEY_LOCAL_MACHINE\\SOFTWARE\\McAfee\\OemInfo\\Registration");
    EXPECT_EQ(U8(write[0]), "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV");
    EXPECT_EQ(U8(write[2]), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Mcafee\\MSC\\AppInfo");
    EXPECT_EQ(U8(write[8]), "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Print");
    EXPECT_EQ(U8(write[11]), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer");

    // Every entry is a well-formed full path that allows itself in its own mode.
    const std::vector<std::string> roots = {"HKEY_CLASSES_ROOT\\", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE\\",
                                            "HKEY_USERS\\"};
    for (auto [list, mode] : {std::pair{&read, WhiteListAccessMode::Read}, std::pair{&write, WhiteListAccessMode::Write}}) {
        for (const WString& entry : *list) {
            const std::string text = U8(entry);
            bool rooted = false;
            for (const std::string& root : roots) rooted = rooted || text.rfind(root, 0) == 0;
            EXPECT_TRUE(rooted) << text;
            EXPECT_EQ(text.find("\\\\"), std::string::npos) << text;
            EXPECT_NE(text.back(), '\\') << text;
            EXPECT_TRUE(KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, entry.c_str(), WIDE("c"))) << text;
        }
    }
    EXPECT_EQ(capture.Messages().size(), 1u);
}

// The check, the log lines and the registry calls all take the key path up to its
// first NUL, so whatever a request hides behind "\u0000" is hidden from all of them.
TEST(WhiteList, AnEmbeddedNulHidesTheSameTailFromTheCheckAndTheRegistry) {
    LogCapture capture;
    Parsed tail(R"({"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\u0000\\..\\..\\SAM"})");
    const Svc::Kestrane::DeleteRegistryKeyJson record(&tail.doc, WIDE("c"));
    EXPECT_TRUE(KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Write, record.keyPath, WIDE("c")));
    WCHAR* subKey = nullptr;
    EXPECT_EQ(Svc::Kestrane::KestraneServiceHelper::GetRootKey(record.keyPath, &subKey, KEY_READ, WIDE("c")),
              HKEY_LOCAL_MACHINE);
    EXPECT_EQ(U8(subKey), "SOFTWARE\\QV");

    for (const char* json : {R"({"keyPath":"HKEY_LOCAL_MACHINE\\SAM\u0000HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})",
                             R"({"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\..\u0000x"})"}) {
        Parsed smuggled(json);
        const Svc::Kestrane::DeleteRegistryKeyJson other(&smuggled.doc, WIDE("c"));
        EXPECT_FALSE(KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Write, other.keyPath, WIDE("c")))
            << json;
    }
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{BadFormatLine(W("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\.."))});
}
