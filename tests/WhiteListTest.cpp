// The read and write whitelists checked directly: prefix rule, component format check,
// case folding, and the line a malformed path logs. (HostilePathTest sends the same
// kinds of paths through the commands, for every listed root; ListedKeysTest, every
// entry of each list, read and written.)
#include "access/KestraneServiceWhiteList.h"
#include "tests/TestSupport.h"

using namespace KestraneTest;
using Svc::WhiteListAccessMode;
using Svc::Kestrane::KestraneServiceWhiteList;

namespace {

const std::string kQv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV";  // in both lists

struct Case {
    std::string path;  // UTF-8; "\xED\xA0\x80" and the like are lone surrogates
    bool allowed;
    bool badFormat = false;  // logs the bad-format line; otherwise nothing is logged
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
        ASSERT_EQ(records.size(), c.badFormat ? 1u : 0u) << c.path;
        if (!c.badFormat) continue;
        EXPECT_EQ(records[0].message, BadFormatLine(path)) << c.path;
        EXPECT_EQ(records[0].level, Qv::Corvane::Logging::LogLevel::Warning);
        EXPECT_EQ(records[0].clientId, "wl-client");
    }
}

// Rows that hold the same way in either mode.
std::vector<Case> CommonCases() {
    const std::string longTail(40000, 'a');  // far beyond the units folded at once
    return {
        {"hkey_local_machine\\software\\qv\\deeper\\key", true},
        {kQv + "X", true},  // a character prefix also allows the sibling QVX
        {kQv + "\\", true},
        {kQv + "\\.hidden\\..x\\x..\\. .\\.. ", true},
        {kQv + "\\\xEF\xBC\x8E\xEF\xBC\x8E\\x", true},  // full-width dots are ordinary units
        {kQv + "\xF0\x9F\x98\x80", true},                // a non-BMP pair right after the prefix
        {kQv + "\xED\xA0\x80", true},                    // a lone high surrogate right after it
        {kQv + "\\" + longTail, true},
        {kQv + "\\..", false, true},
        {kQv + "\\.\\x", false, true},
        {kQv + "\\\\..\\x", false, true},
        {kQv + "\\" + longTail + "\\..", false, true},
        {"..\\" + kQv, false, true},
        {"HKEY_LOCAL_MACHINE\\..\\SOFTWARE\\QV", false, true},
        {"", false, true},
        {"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\QV", false},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE", false},  // shorter than every entry it begins
        // Units that some case mappings fold to ASCII letters do not stand in for them.
        {"HKEY_LOCAL_MACH\xC4\xB0NE\\SOFTWARE\\QV", false},       // U+0130
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\xED\xA0\x80", false},   // lone surrogate for the V
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\xF0\x9F\x98\x80", false},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QW", false},
    };
}

}  // namespace

TEST(WhiteList, ReadMode) {
    std::vector<Case> cases = CommonCases();
    cases.insert(cases.end(), {
        {"hkey_classes_root\\local settings\\software\\microsoft\\windows\\currentversion\\appmodel\\repository\\"
         "packages\\p", true},
        {"HKEY_CURRENT_USER\\Software\\Qv\\x", true},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\mcafee\\oeminfo\\registration", true},
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\SOFTWARE\\QV", false},
    });
    Check(WhiteListAccessMode::Read, cases);
    // Every mode but Write reads the read list.
    Check(static_cast<WhiteListAccessMode>(1), {{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\x", true},
                                                {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer", false}});
    Check(static_cast<WhiteListAccessMode>(3), {{"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\x", true}});

    LogCapture capture;
    EXPECT_FALSE(KestraneServiceWhiteList::IsKeyPathInWhiteList(WhiteListAccessMode::Read, nullptr, WIDE("c")));
    EXPECT_EQ(capture.Messages(),
              std::vector<std::string>{"Qv::Corvane::Server::Services::UtilHelper.NullChecker - keyPath cannot be null"});
}

TEST(WhiteList, WriteMode) {
    std::vector<Case> cases = CommonCases();
    cases.insert(cases.end(), {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer\\x", true},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Print\\x", true},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV Inc\\System Properties\\x", true},  // through the QV entry
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\wow6432node\\google\\chrome\\extensions\\kembcdlbgbcnnchcnbdhbmbhbejnedjf", true},
        // Read list only.
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", false},
        // A "k" entry letter spelt as KELVIN SIGN.
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Google\\Chrome\\Extensions\\\xE2\x84\xAA" "embcdlbgbcnnchcnbdhbmbhbejnedjf", false},
    });
    Check(WhiteListAccessMode::Write, cases);
}
