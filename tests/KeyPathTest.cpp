// Splitting a key path into its root and subkey: only the first backslash counts,
// and only the five root names, exactly as written, resolve.
#include "access/KestraneServiceHelper.h"
#include "tests/TestSupport.h"

using namespace KestraneTest;
using Qv::Corvane::Server::Services::Kestrane::KestraneServiceHelper;

namespace {

struct Split {
    const char* path;
    HKEY root;            // expected root, null for none
    const char* buffer;   // the key path buffer afterwards, up to its first NUL
    const char* subKey;   // where the subkey pointer points
};

}  // namespace

TEST(GetRootKey, SplitsAtTheFirstBackslashAndMatchesRootNamesExactly) {
    const Split rows[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\QV"},
        {"HKEY_CLASSES_ROOT\\.txt", HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", ".txt"},
        {"HKEY_CURRENT_CONFIG\\Software", HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "Software"},
        {"HKEY_USERS\\S-1-5-18", HKEY_USERS, "HKEY_USERS", "S-1-5-18"},
        // outside an RPC call there is no caller, hence no hive of its own
        {"HKEY_CURRENT_USER\\SOFTWARE\\QV", nullptr, "HKEY_CURRENT_USER", "SOFTWARE\\QV"},
        // the root alone, with or without a separator: the command acts on the root
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", ""},
        {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", ""},
        // leading separators are skipped, as the tokenizer does
        {"\\\\HKEY_USERS\\S-1-5-18", HKEY_USERS, "HKEY_USERS", "S-1-5-18"},
        // only one separator is consumed: the registry sees the second
        {"HKEY_LOCAL_MACHINE\\\\SOFTWARE", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "\\SOFTWARE"},
        // case, abbreviations, other separators and other roots resolve to nothing
        {"hkey_local_machine\\SOFTWARE", nullptr, "hkey_local_machine", "SOFTWARE"},
        {"HKLM\\SOFTWARE", nullptr, "HKLM", "SOFTWARE"},
        {"HKEY_LOCAL_MACHINE/SOFTWARE", nullptr, "HKEY_LOCAL_MACHINE/SOFTWARE", ""},
        {"HKEY_PERFORMANCE_DATA\\x", nullptr, "HKEY_PERFORMANCE_DATA", "x"},
        {"HKEY_LOCAL_MACHINEX\\SOFTWARE", nullptr, "HKEY_LOCAL_MACHINEX", "SOFTWARE"},
        {"HKEY_LOCAL\\MACHINE", nullptr, "HKEY_LOCAL", "MACHINE"},
        {" HKEY_LOCAL_MACHINE\\SOFTWARE", nullptr, " HKEY_LOCAL_MACHINE", "SOFTWARE"},
        {"", nullptr, "", ""},
        {"\\\\\\", nullptr, "", ""},
    };
    for (const Split& row : rows) {
        WString buffer = W(row.path);
        WCHAR* subKey = nullptr;
        const HKEY root = KestraneServiceHelper::GetRootKey(&buffer[0], &subKey, KEY_READ, WIDE("c"));
        EXPECT_EQ(root, row.root) << row.path;
        // Leading separators stay in the buffer; the token starts behind them.
        const WCHAR* token = buffer.c_str();
        while (*token == u'\\') ++token;
        EXPECT_EQ(U8(token), row.buffer) << row.path;
        ASSERT_NE(subKey, nullptr) << row.path;
        EXPECT_EQ(U8(subKey), row.subKey) << row.path;
        EXPECT_TRUE(subKey >= buffer.c_str() && subKey <= buffer.c_str() + buffer.size()) << row.path;
    }
}

TEST(GetRootKey, NullArgumentsAreRefusedWithTheCheckersWarnings) {
    LogCapture capture;
    WString buffer = W("HKEY_USERS\\x");
    WCHAR* subKey = nullptr;
    EXPECT_EQ(KestraneServiceHelper::GetRootKey(nullptr, &subKey, KEY_READ, WIDE("c")), nullptr);
    EXPECT_EQ(KestraneServiceHelper::GetRootKey(&buffer[0], nullptr, KEY_READ, WIDE("c")), nullptr);
    EXPECT_EQ(U8(buffer), "HKEY_USERS\\x");  // untouched when refused
    const std::string line = "Qv::Corvane::Server::Services::UtilHelper.NullChecker - ";
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{line + "keyPath cannot be null", line + "subKey cannot be null"}));
}
