// The logging library formats its own placeholders the same way in both builds, and no
// outside text can end a line or fake one.
#include "tests/TestSupport.h"

using namespace KestraneTest;
using namespace Qv::Corvane::Logging;

namespace {

std::string Format(const std::string& format, std::initializer_list<LogArg> args) {
    const WString f = W(format);
    std::vector<LogArg> list(args);
    const std::size_t needed = FormatLogMessage(f.c_str(), list.data(), list.size(), nullptr, 0);
    WString out(needed, 0);
    EXPECT_EQ(needed, FormatLogMessage(f.c_str(), list.data(), list.size(), out.data(), needed + 1));
    return U8(out);
}

WString Units(std::initializer_list<uint16_t> units) {
    WString text;
    for (uint16_t u : units) text.push_back(static_cast<WCHAR>(u));
    return text;
}

}  // namespace

TEST(Logging, FormatsPlaceholdersAndKeepsEverythingElseLiteral) {
    const WString wide = W("wïde");
    EXPECT_EQ(Format("%S.%S - %s is %d", {"Cls", "Op", wide.c_str(), -42}), "Cls.Op - wïde is -42");
    EXPECT_EQ(Format("%S.%S - %s unable to write json value for $s", {"C", "O", wide.c_str()}),
              "C.O - wïde unable to write json value for $s");
    EXPECT_EQ(Format("100%% %x %", {}), "100% %x %");
    EXPECT_EQ(Format("%s and %S", {static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)}),
              "(null) and (null)");
    // More placeholders than arguments never reads past the list.
    EXPECT_EQ(Format("%S.%S %d %s", {"A", "B"}), "A.B (missing) (missing)");
    EXPECT_EQ(Format("%d", {static_cast<unsigned long>(0x80000000u)}), "-2147483648");
    // A buffer too small takes what fits, and the whole length is still reported.
    const LogArg args[] = {LogArg("abc"), LogArg(12345)};
    WCHAR small[4];
    EXPECT_EQ(FormatLogMessage(W("%S-%d").c_str(), args, 2, small, 4), 9u);
    EXPECT_EQ(U8(small), "abc");
}

TEST(Logging, OutsideTextsCannotEndOrFakeALine) {
    const auto field = [](const WString& text) { return Format("%s", {text.c_str()}); };
    // Ordinary fields are written as they stand, backslashes included.
    EXPECT_EQ(field(W("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\App ünï 😀")), "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\App ünï 😀");
    // Anything that could break or disguise a line turns the field into one quoted JSON
    // string, in which every backslash is an escape.
    EXPECT_EQ(field(W("HKLM\\x\n2026-01-01T00:00:00.000Z ERROR 1 1 [admin] forged")),
              R"("HKLM\\x\n2026-01-01T00:00:00.000Z ERROR 1 1 [admin] forged")");
    EXPECT_EQ(field(W("a\rb\tc\x01" "d\x7F")), R"("a\rb\tc\u0001d\u007F")");
    EXPECT_EQ(field(Units({u'a', 0xD800, u'b', 0xDC00})), R"("a\uD800b\uDC00")");
    EXPECT_EQ(field(W("say \"hi\" \\")), R"("say \"hi\" \\")");
    EXPECT_EQ(Format("%S.%S", {"C\nx", "O"}), R"("C\nx".O)");
    // A long field is cut, never inside a surrogate pair, and says how long it was.
    EXPECT_EQ(field(WString(kMaxFieldUnits + 1, u'a')),
              "\"" + std::string(kMaxFieldUnits, 'a') + "\"[cut: " + std::to_string(kMaxFieldUnits + 1) + " units]");
    WString pairs = WString(kMaxFieldUnits - 1, u'a') + W("😀😀");
    EXPECT_EQ(field(pairs), "\"" + std::string(kMaxFieldUnits - 1, 'a') + "\"[cut: " +
                                std::to_string(pairs.size()) + " units]");
}

TEST(Logging, EveryInvisibleCharacterIsEscaped) {
    // One row per class of character that could hide in a key path or reorder a line.
    const struct {
        const char* what;
        std::initializer_list<uint16_t> units;
        const char* escaped;
    } rows[] = {
        {"C0 and C1 controls", {0x01, 0x1F, 0x85, 0x9F}, R"(\u0001\u001F\u0085\u009F)"},
        {"line and paragraph separators", {0x2028, 0x2029}, R"(\u2028\u2029)"},
        {"bidirectional marks", {0x200E, 0x200F, 0x061C}, R"(\u200E\u200F\u061C)"},
        {"bidirectional embeddings and isolates", {0x202A, 0x202E, 0x2066, 0x2069}, R"(\u202A\u202E\u2066\u2069)"},
        {"zero-width and byte order mark", {0x200B, 0xFEFF, 0x180E, 0x00AD}, R"(\u200B\uFEFF\u180E\u00AD)"},
        {"interlinear annotation", {0xFFF9, 0xFFFA, 0xFFFB}, R"(\uFFF9\uFFFA\uFFFB)"},
        {"tag characters, first and last", {0xDB40, 0xDC00, 0xDB40, 0xDC7F}, R"(\uDB40\uDC00\uDB40\uDC7F)"},
    };
    for (const auto& row : rows) {
        const WString text = W("a") + Units(row.units) + W("b");
        EXPECT_EQ(Format("%s", {text.c_str()}), std::string("\"a") + row.escaped + "b\"") << row.what;
    }
    // Visible characters on either side of those ranges stay as they are: U+E0100 is a
    // variation selector, not a tag.
    const WString visible = W("é€😀") + Units({0xDB40, 0xDD00, 0x2027, 0xFFFC});
    EXPECT_EQ(Format("%s", {visible.c_str()}), U8(visible));
}

TEST(Logging, RecordAndPlainFormsReachTheSinkWithLevelAndClient) {
    LogCapture capture;
    TraceLogger* logger = LogManager::GetLogger();
    EXPECT_EQ(logger, LogManager::GetLogger());
    const WString client = W("client-7");
    const WString value = W("v");
    logger->LogWarning(CreateLoggingData(WIDE("%S.%S - %s"), client.c_str()), "Cls", "Op", value.c_str());
    logger->LogError(LoggingData{WIDE("%S.%S - %d"), client.c_str(), 0}, "Cls", "Op", 3);
    logger->LogInfo(LoggingData{WIDE("%S.%S"), nullptr, 0}, "Cls", "Op");
    logger->LogInfo(WIDE("DeleteRegistryKey: Key not found %s %d"));
    logger->LogError(WIDE("plain error"));
    const WString forged = W("evil] \n2026-01-01T00:00:00.000Z ERROR"), bracket = W("a] b");
    logger->LogInfo(CreateLoggingData(WIDE("%S.%S"), forged.c_str()), "Cls", "Op");
    logger->LogInfo(forged.c_str());
    logger->LogInfo(CreateLoggingData(WIDE("%S.%S"), bracket.c_str()), "Cls", "Op");  // "]" alone would end the id

    const auto records = capture.Records();
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records[0].level, LogLevel::Warning);
    EXPECT_EQ(records[0].clientId, "client-7");
    EXPECT_EQ(records[0].message, "Cls.Op - v");
    EXPECT_EQ(records[1].level, LogLevel::Error);
    EXPECT_EQ(records[1].message, "Cls.Op - 3");
    EXPECT_EQ(records[2].level, LogLevel::Info);
    EXPECT_EQ(records[2].clientId, "");
    EXPECT_EQ(records[3].message, "DeleteRegistryKey: Key not found %s %d");  // plain text is not a format
    EXPECT_EQ(records[4].level, LogLevel::Error);
    EXPECT_EQ(records[4].message, "plain error");
    // The sink sees what the line shows: a forged client id or plain text, escaped.
    EXPECT_EQ(records[5].clientId, R"("evil] \n2026-01-01T00:00:00.000Z ERROR")");
    EXPECT_EQ(records[6].message, R"("evil] \n2026-01-01T00:00:00.000Z ERROR")");
    EXPECT_EQ(records[7].clientId, R"("a] b")");
}
