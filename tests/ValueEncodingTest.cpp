// Registry bytes to JSON on crafted data: odd lengths, missing terminators and short
// integers are where a converter reads past its data (ASan watches natively).
#include "service/KestraneService.h"
#include "tests/JsonTestSupport.h"

using namespace KestraneTest;
using Qv::Corvane::Server::Services::Kestrane::KestraneService;
using Bytes = std::vector<BYTE>;

namespace {

const std::string kService = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

Bytes Units(std::initializer_list<WCHAR> units) {
    Bytes bytes;
    for (WCHAR u : units) {
        bytes.push_back(static_cast<BYTE>(u & 0xFF));
        bytes.push_back(static_cast<BYTE>(u >> 8));
    }
    return bytes;
}

struct Converted {
    bool ok;
    std::string json;
    std::vector<std::string> log;
};

Converted Convert(DWORD type, const Bytes& data) {
    KestraneService service;
    Svc::JsonDocument document;
    Svc::JsonValue out;
    LogCapture capture;
    const bool ok = service.WriteRegValuetoJson(&document, &out, &data, type, static_cast<DWORD>(data.size()),
                                                WIDE("c"));
    return {ok, ok ? ToJson(out) : "", capture.Messages()};
}

}  // namespace

TEST(ValueEncoding, StringsEndAtTheFirstNulOrWithTheData) {
    const WCHAR a = 'a', b = 'b', c = 'c', d = 'd';
    EXPECT_EQ(Convert(REG_SZ, Units({a, b, c, 0})).json, "\"abc\"");
    EXPECT_EQ(Convert(REG_SZ, Units({a, b, c})).json, "\"abc\"");
    EXPECT_EQ(Convert(REG_EXPAND_SZ, Units({a, b, 0, c, d, 0})).json, "\"ab\"");
    EXPECT_EQ(Convert(REG_LINK, Units({0})).json, "\"\"");
    Bytes five = Units({a, b});
    five.push_back('z');  // an odd last byte is no unit
    EXPECT_EQ(Convert(REG_SZ, five).json, "\"ab\"");
    EXPECT_EQ(Convert(REG_SZ, Units({0xD83D, 0xDE00, 0})).json, "\"\xF0\x9F\x98\x80\"");

    const Converted single = Convert(REG_SZ, Bytes{'a'});
    EXPECT_FALSE(single.ok);
    EXPECT_EQ(single.log, (std::vector<std::string>{kService + "StringToJsonValue - regValueString cannot be null"}));
}

TEST(ValueEncoding, MultiStringsSplitAtNulsAndNeverReadTheLastUnit) {
    const WCHAR a = 'a', b = 'b';
    struct Row {
        Bytes data;
        const char* json;
    };
    const Row rows[] = {
        {Units({a, 0, b, 0, 0}), R"(["a","b"])"},
        {Units({a, 0, b, 0}), R"(["a"])"},       // no list terminator: the last string is lost
        {Units({0}), "[]"},
        {Units({0, 0}), R"([""])"},
        {Units({a, 0, 0, 0}), R"(["a",""])"},
        {Units({a, 0, 0, b, 0, 0}), R"(["a","","b"])"},
        {Units({a, b}), "[]"},
        {Units({a, 0, b}), R"(["a"])"},
        {Bytes{'a'}, "[]"},                      // one byte is no unit at all
        {Bytes{'a', 0, 0}, "[]"},
    };
    for (const Row& row : rows) {
        const Converted got = Convert(REG_MULTI_SZ, row.data);
        EXPECT_TRUE(got.ok) << row.json;
        EXPECT_EQ(got.json, row.json);
    }
}

TEST(ValueEncoding, IntegersAreSignedAndNeedAllTheirBytes) {
    EXPECT_EQ(Convert(REG_DWORD, Bytes{0xFF, 0xFF, 0xFF, 0xFF}).json, "-1");
    EXPECT_EQ(Convert(REG_DWORD, Bytes{0x2A, 0, 0, 0}).json, "42");
    EXPECT_EQ(Convert(REG_DWORD, Bytes{0, 0, 0, 0x80}).json, "-2147483648");
    EXPECT_EQ(Convert(REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 0, 0x2A}).json, "42");
    EXPECT_EQ(Convert(REG_DWORD_BIG_ENDIAN, Bytes{0x80, 0, 0, 0}).json, "-2147483648");
    EXPECT_EQ(Convert(REG_QWORD, Bytes(8, 0xFF)).json, "-1");
    EXPECT_EQ(Convert(REG_QWORD, Bytes{0, 0, 0, 0, 1, 0, 0, 0}).json, "4294967296");
    EXPECT_EQ(Convert(REG_QWORD, Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}).json, "-9223372036854775808");
    // Extra bytes are ignored; missing ones make no number (and are never read).
    EXPECT_EQ(Convert(REG_DWORD, Bytes{1, 0, 0, 0, 9}).json, "1");
    for (const Bytes& shortData : {Bytes{1}, Bytes{1, 2, 3}}) {
        EXPECT_FALSE(Convert(REG_DWORD, shortData).ok);
        EXPECT_FALSE(Convert(REG_DWORD_BIG_ENDIAN, shortData).ok);
    }
    EXPECT_FALSE(Convert(REG_QWORD, Bytes(7, 1)).ok);
}

TEST(ValueEncoding, BinaryIsBase64InLinesOf64EachEndedByCrLf) {
    EXPECT_EQ(Convert(REG_BINARY, Bytes{0, 1, 2}).json, "\"AAEC\\r\\n\"");
    EXPECT_EQ(Convert(REG_BINARY, Bytes{0xFF}).json, "\"/w==\\r\\n\"");
    EXPECT_EQ(Convert(REG_BINARY, Bytes(48, 0)).json, "\"" + std::string(64, 'A') + "\\r\\n\"");
    // Windows starts a new line for a last, padded group; Wine's encoder appends that
    // group to the full line before it. Both decode to the same bytes.
    const std::string tail = WineBehaviour() ? "AA==\\r\\n" : "\\r\\nAA==\\r\\n";
    EXPECT_EQ(Convert(REG_BINARY, Bytes(49, 0)).json, "\"" + std::string(64, 'A') + tail + "\"");
    EXPECT_EQ(Convert(REG_BINARY, Bytes(51, 0)).json,
              "\"" + std::string(64, 'A') + "\\r\\nAAAA\\r\\n\"");
}

TEST(ValueEncoding, EmptyDataAndUnsupportedTypesAreNotConverted) {
    const Converted empty = Convert(REG_SZ, Bytes{});
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.log,
              (std::vector<std::string>{kService + "WriteRegValuetoJson - value size of collection $s cannot be 0"}));
    const DWORD unsupported[] = {REG_NONE, REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR,
                                 REG_RESOURCE_REQUIREMENTS_LIST, 12, 0xFFFFFFFF};
    for (DWORD type : unsupported) {
        const Converted got = Convert(type, Bytes{1, 2, 3, 4});
        EXPECT_FALSE(got.ok) << type;
        EXPECT_TRUE(got.log.empty()) << type;  // the caller's warning is the only trace
    }
}

TEST(ValueEncoding, AResultThatIsNoObjectIsRefused) {
    KestraneService service;
    Svc::JsonDocument document;
    Svc::JsonValue array(rapidjson::kArrayType);
    HKEY key = HKEY_LOCAL_MACHINE;
    LogCapture capture;
    EXPECT_FALSE(service.GetRegKeyValue(&document, &array, &key, 4, WIDE("v"), REG_DWORD, WIDE("c"), false));
    EXPECT_FALSE(service.GetRegKeyValue(&document, nullptr, &key, 4, nullptr, REG_DWORD, WIDE("c"), false));
    const std::string nullLine = "Qv::Corvane::Server::Services::UtilHelper.NullChecker - ";
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                      kService + "GetRegKeyValue - resultObj is invalid type expected 3 result 4",
                                      nullLine + "resultObj cannot be null",
                                      nullLine + "valueName cannot be null",
                                  }));
    EXPECT_TRUE(array.Empty());
}
