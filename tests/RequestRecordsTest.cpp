// The request records, built directly: which member is read first, what each refusal
// logs and throws, and what an accepted record holds. (RequestRefusalTest sends the
// key path and value name refusals through every function id.)
#include "json/RequestRecords.h"
#include "tests/JsonTestSupport.h"

#include <optional>

using namespace KestraneTest;
using namespace Svc::Kestrane;

namespace {

std::string RecordLine(const std::string& record, const std::string& text) {
    return "Qv::Corvane::Server::Services::Kestrane::" + record + "." + record + " - " + text;
}

// Builds Record from `json`; answers the thrown code (0 when built) and the log lines.
template <class Record>
struct Built {
    explicit Built(const std::string& json) : parsed(json) {
        LogCapture capture;
        try {
            record.emplace(&parsed.doc, WIDE("rec-client"));
        } catch (int thrown) {
            code = static_cast<uint32_t>(thrown);
        }
        log = capture.Messages();
        for (const CapturedLog& r : capture.Records()) EXPECT_EQ(r.clientId, "rec-client");
    }
    Parsed parsed;
    std::optional<Record> record;
    uint32_t code = 0;
    std::vector<std::string> log;
};

const std::string kHead = R"({"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV")";

}  // namespace

TEST(RequestRecords, TextMembersPointIntoTheDocumentAndEndAtTheirFirstNul) {
    // Resolution splits the key path in place: it must be the document's own text.
    Built<CheckRegistryPathJson> check(kHead + R"(,"requestedDataType":"x"})");  // extra members are ignored
    ASSERT_TRUE(check.record);
    EXPECT_EQ(check.record->keyPath, check.parsed.doc[WIDE("keyPath")].GetString());
    EXPECT_TRUE(check.log.empty());
    Built<DeleteRegistryValueJson> value(kHead + R"(,"regKeyValueName":"v\u0000w"})");
    ASSERT_TRUE(value.record);
    EXPECT_EQ(value.record->regKeyValueName, value.parsed.doc[WIDE("regKeyValueName")].GetString());
    EXPECT_EQ(U8(value.record->regKeyValueName), "v");

    // A null document: the checker's line only, and a general failure.
    LogCapture capture;
    uint32_t code = 0;
    try {
        const WriteRegistryKeyJson record(nullptr, WIDE("c"));
    } catch (int thrown) {
        code = static_cast<uint32_t>(thrown);
    }
    EXPECT_EQ(code, Svc::GeneralFailure);
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{kNullLine + "document cannot be null"});
}

TEST(RequestRecords, ExpandStringIsOptionalAndOnlyTrueWhenTrue) {
    Built<ReadRegistryValueJson> loose(kHead + R"(,"regKeyValueName":"v","expandString":"yes"})");
    ASSERT_TRUE(loose.record);
    EXPECT_FALSE(loose.record->expandString);
    EXPECT_EQ(loose.log, std::vector<std::string>{kParseLine + "expandString is invalid type expected 2 result 5"});
    Built<ReadRegistryValueJson> expand(kHead + R"(,"regKeyValueName":"v","expandString":true})");
    ASSERT_TRUE(expand.record);
    EXPECT_TRUE(expand.record->expandString);
    Built<ReadRegistryValuesJson> plain(kHead + "}");
    ASSERT_TRUE(plain.record);
    EXPECT_FALSE(plain.record->expandString);
    EXPECT_EQ(plain.log, std::vector<std::string>{kGetLine + "document missing key expandString"});
    Built<ReadRegistryValuesJson> expandAll(kHead + R"(,"expandString":true})");
    ASSERT_TRUE(expandAll.record);
    EXPECT_TRUE(expandAll.record->expandString);
}

TEST(RequestRecords, WriteRegistryValueChecksDataTypeThenWriteData) {
    const std::string r = "WriteRegistryValueJson";
    const std::string head = kHead + R"(,"regKeyValueName":"v")";
    const std::string invalid = RecordLine(r, "data type is invalid to write to path HKEY_LOCAL_MACHINE\\SOFTWARE\\QV");
    for (const char* type : {"1", "2", "3", "4", "7", "11"}) {
        Built<WriteRegistryValueJson> ok(head + ",\"requestedDataType\":" + type + ",\"writeDataValue\":0}");
        ASSERT_TRUE(ok.record) << type;
        EXPECT_EQ(ok.record->requestedDataType, std::stoi(type));
        EXPECT_EQ(ok.record->writeDataValue, &ok.parsed.doc[WIDE("writeDataValue")]);
        EXPECT_TRUE(ok.log.empty()) << type;
    }
    const std::pair<const char*, std::string> refused[] = {
        {"0", ""}, {"5", ""}, {"6", ""}, {"8", ""}, {"9", ""}, {"10", ""}, {"12", ""}, {"-1", ""},
        {"-2147483648", ""}, {"2147483647", ""},
        {"\"1\"", kParseLine + "requestedDataType is invalid type expected 6 result 5"},
        {"1.5", kParseLine + "requestedDataType is invalid type expected 6 result 6"},
        {"4294967297", kParseLine + "requestedDataType is invalid type expected 6 result 6"},
        {"null", kGetLine + "requestedDataType cannot be null"},
    };
    for (const auto& [type, first] : refused) {
        Built<WriteRegistryValueJson> bad(head + ",\"requestedDataType\":" + type + ",\"writeDataValue\":0}");
        EXPECT_EQ(bad.code, Svc::InvalidDataType) << type;
        const auto expected = first.empty() ? std::vector<std::string>{invalid} : std::vector<std::string>{first, invalid};
        EXPECT_EQ(bad.log, expected) << type;
    }
    // The data type is checked before the write data, whatever the latter holds.
    Built<WriteRegistryValueJson> both(head + "}");
    EXPECT_EQ(both.code, Svc::InvalidDataType);
    EXPECT_EQ(both.log, (std::vector<std::string>{kGetLine + "document missing key requestedDataType", invalid}));
    for (const char* data : {"", R"(,"writeDataValue":null)"}) {
        Built<WriteRegistryValueJson> missing(head + R"(,"requestedDataType":3)" + data + "}");
        EXPECT_EQ(missing.code, Svc::InvalidWriteData);
        ASSERT_EQ(missing.log.size(), 2u);
        EXPECT_EQ(missing.log[1], RecordLine(r, "writeDataValue cannot be null"));
    }
}
