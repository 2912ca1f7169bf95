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

// One row per shape of data: strings end at their first NUL or with the data, and an odd
// last byte is no unit; a multi-string splits at NULs and never reads its last unit;
// integers are signed and need all their bytes (extra ones are ignored); binary data is
// Base64 in lines of 64, each ended by CR LF. A row with no JSON is not converted.
TEST(ValueEncoding, EachTypeConvertsItsBytesOrNothing) {
    const WCHAR a = 'a', b = 'b', c = 'c', d = 'd';
    const std::string full(64, 'A');
    // Windows starts a new line for a last, padded group; Wine's encoder appends that
    // group to the full line before it. Both decode to the same bytes.
    const std::string paddedTail = WineBehaviour() ? "AA==\\r\\n" : "\\r\\nAA==\\r\\n";
    const struct {
        DWORD type;
        Bytes data;
        std::string json;  // empty: refused
    } rows[] = {
        {REG_SZ, Units({a, b, c, 0}), "\"abc\""},
        {REG_SZ, Units({a, b, c}), "\"abc\""},
        {REG_EXPAND_SZ, Units({a, b, 0, c, d, 0}), "\"ab\""},
        {REG_LINK, Units({0}), "\"\""},
        {REG_SZ, Bytes{'a', 0, 'b', 0, 'z'}, "\"ab\""},
        {REG_SZ, Units({0xD83D, 0xDE00, 0}), "\"\xF0\x9F\x98\x80\""},
        {REG_MULTI_SZ, Units({a, 0, b, 0, 0}), R"(["a","b"])"},
        {REG_MULTI_SZ, Units({a, 0, b, 0}), R"(["a"])"},  // no list terminator: the last string is lost
        {REG_MULTI_SZ, Units({0}), "[]"},
        {REG_MULTI_SZ, Units({0, 0}), R"([""])"},
        {REG_MULTI_SZ, Units({a, 0, 0, 0}), R"(["a",""])"},
        {REG_MULTI_SZ, Units({a, 0, 0, b, 0, 0}), R"(["a","","b"])"},
        {REG_MULTI_SZ, Units({a, b}), "[]"},
        {REG_MULTI_SZ, Units({a, 0, b}), R"(["a"])"},
        {REG_MULTI_SZ, Bytes{'a'}, "[]"},  // one byte is no unit at all
        {REG_MULTI_SZ, Bytes{'a', 0, 0}, "[]"},
        {REG_DWORD, Bytes{0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
        {REG_DWORD, Bytes{0x2A, 0, 0, 0}, "42"},
        {REG_DWORD, Bytes{0, 0, 0, 0x80}, "-2147483648"},
        {REG_DWORD, Bytes{1, 0, 0, 0, 9}, "1"},
        {REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 0, 0x2A}, "42"},
        {REG_DWORD_BIG_ENDIAN, Bytes{0x80, 0, 0, 0}, "-2147483648"},
        {REG_QWORD, Bytes(8, 0xFF), "-1"},
        {REG_QWORD, Bytes{0, 0, 0, 0, 1, 0, 0, 0}, "4294967296"},
        {REG_QWORD, Bytes{0, 0, 0, 0, 0, 0, 0, 0x80}, "-9223372036854775808"},
        {REG_DWORD, Bytes{1}, ""},
        {REG_DWORD, Bytes{1, 2, 3}, ""},
        {REG_DWORD_BIG_ENDIAN, Bytes{1}, ""},
        {REG_DWORD_BIG_ENDIAN, Bytes{1, 2, 3}, ""},
        {REG_QWORD, Bytes(7, 1), ""},
        {REG_BINARY, Bytes{0, 1, 2}, "\"AAEC\\r\\n\""},
        {REG_BINARY, Bytes{0xFF}, "\"/w==\\r\\n\""},
        {REG_BINARY, Bytes(48, 0), "\"" + full + "\\r\\n\""},
        {REG_BINARY, Bytes(49, 0), "\"" + full + paddedTail + "\""},
        {REG_BINARY, Bytes(51, 0), "\"" + full + "\\r\\nAAAA\\r\\n\""},
    };
    int n = 0;
    for (const auto& row : rows) {
        const Converted got = Convert(row.type, row.data);
        EXPECT_EQ(got.ok, !row.json.empty()) << "row " << n;
        EXPECT_EQ(got.json, row.json) << "row " << n++;
    }
    const Converted single = Convert(REG_SZ, Bytes{'a'});
    EXPECT_FALSE(single.ok);
    EXPECT_EQ(single.log, (std::vector<std::string>{kService + "StringToJsonValue - regValueString cannot be null"}));
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
