// The request records, built directly: per family, which member is read first, what
// each refusal logs and throws, and what an accepted record holds.
#include "json/RequestRecords.h"
#include "tests/JsonTestSupport.h"

#include <optional>

using namespace KestraneTest;
using namespace Svc::Kestrane;

namespace {

const std::string kNs = "Qv::Corvane::Server::Services::Kestrane::";

std::string RecordLine(const std::string& record, const std::string& text) {
    return kNs + record + "." + record + " - " + text;
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

constexpr const char* kPath = R"("keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV")";

}  // namespace

TEST(RequestRecords, KeyPathRecordsPointIntoTheDocument) {
    // Check, WriteKey and DeleteKey read nothing else; extra members are ignored.
    Built<CheckRegistryPathJson> check(std::string("{") + kPath + R"(,"requestedDataType":"x"})");
    Built<WriteRegistryKeyJson> writeKey(std::string("{") + kPath + "}");
    Built<DeleteRegistryKeyJson> deleteKey(std::string("{") + kPath + "}");
    ASSERT_TRUE(check.record && writeKey.record && deleteKey.record);
    EXPECT_EQ(check.record->keyPath, check.parsed.doc[WIDE("keyPath")].GetString());
    EXPECT_EQ(writeKey.record->keyPath, writeKey.parsed.doc[WIDE("keyPath")].GetString());
    EXPECT_EQ(deleteKey.record->keyPath, deleteKey.parsed.doc[WIDE("keyPath")].GetString());
    EXPECT_TRUE(check.log.empty() && writeKey.log.empty() && deleteKey.log.empty());

    // A key path is its text up to the first NUL; one that starts with a NUL is empty.
    Built<DeleteRegistryKeyJson> cut(R"({"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\u0000\\..\\SAM"})");
    ASSERT_TRUE(cut.record);
    EXPECT_EQ(U8(cut.record->keyPath), "HKEY_LOCAL_MACHINE\\SOFTWARE\\QV");
    Built<DeleteRegistryKeyJson> hidden(R"({"keyPath":"\u0000HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})");
    EXPECT_EQ(hidden.code, Svc::InvalidKeyPath);
    EXPECT_EQ(hidden.log, std::vector<std::string>{RecordLine("DeleteRegistryKeyJson", "keyPath cannot be null")});

    // A null document: the checker's line only, and a general failure.
    LogCapture capture;
    uint32_t code = 0;
    try {
        const CheckRegistryPathJson record(nullptr, WIDE("c"));
    } catch (int thrown) {
        code = static_cast<uint32_t>(thrown);
    }
    EXPECT_EQ(code, Svc::GeneralFailure);
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{kNullLine + "document cannot be null"});
}

TEST(RequestRecords, ReadRegistryValueReadsKeyPathThenNameThenExpandString) {
    const std::string r = "ReadRegistryValueJson";
    Built<ReadRegistryValueJson> noMembers("{}");  // the missing key path hides the missing name
    EXPECT_EQ(noMembers.code, Svc::InvalidKeyPath);
    EXPECT_EQ(noMembers.log, (std::vector<std::string>{kGetLine + "document missing key keyPath",
                                                       RecordLine(r, "keyPath cannot be null")}));

    Built<ReadRegistryValueJson> numberName(std::string("{") + kPath + R"(,"regKeyValueName":1})");
    EXPECT_EQ(numberName.code, Svc::InvalidValueName);
    EXPECT_EQ(numberName.log, (std::vector<std::string>{kParseLine + "regKeyValueName is invalid type expected 5 result 6",
                                                        RecordLine(r, "regKeyValueName cannot be null")}));

    Built<ReadRegistryValueJson> loose(std::string("{") + kPath + R"(,"regKeyValueName":"v","expandString":"yes"})");
    ASSERT_TRUE(loose.record);
    EXPECT_FALSE(loose.record->expandString);
    EXPECT_EQ(loose.record->regKeyValueName, loose.parsed.doc[WIDE("regKeyValueName")].GetString());
    EXPECT_EQ(loose.log, std::vector<std::string>{kParseLine + "expandString is invalid type expected 2 result 5"});

    Built<ReadRegistryValueJson> expand(std::string("{") + kPath + R"(,"regKeyValueName":"v","expandString":true})");
    ASSERT_TRUE(expand.record);
    EXPECT_TRUE(expand.record->expandString);
    EXPECT_TRUE(expand.log.empty());
}

TEST(RequestRecords, ReadRegistryValuesDefaultsExpandStringToFalse) {
    Built<ReadRegistryValuesJson> plain(std::string("{") + kPath + "}");
    ASSERT_TRUE(plain.record);
    EXPECT_FALSE(plain.record->expandString);
    EXPECT_EQ(plain.log, std::vector<std::string>{kGetLine + "document missing key expandString"});
    Built<ReadRegistryValuesJson> expand(std::string("{") + kPath + R"(,"expandString":true})");
    ASSERT_TRUE(expand.record);
    EXPECT_TRUE(expand.record->expandString);
}

TEST(RequestRecords, WriteRegistryValueChecksDataTypeThenWriteData) {
    const std::string r = "WriteRegistryValueJson";
    const std::string head = std::string("{") + kPath + R"(,"regKeyValueName":"v")";
    const std::string invalid = RecordLine(r, "data type is invalid to write to path HKEY_LOCAL_MACHINE\\SOFTWARE\\QV");
    for (const char* type : {"1", "2", "3", "4", "7", "11"}) {
        Built<WriteRegistryValueJson> ok(head + ",\"requestedDataType\":" + type + ",\"writeDataValue\":0}");
        ASSERT_TRUE(ok.record) << type;
        EXPECT_EQ(ok.record->requestedDataType, std::stoi(type));
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

    const std::string typed = head + R"(,"requestedDataType":3)";
    Built<WriteRegistryValueJson> missing(typed + "}");
    EXPECT_EQ(missing.code, Svc::InvalidWriteData);
    EXPECT_EQ(missing.log, (std::vector<std::string>{kGetLine + "document missing key writeDataValue",
                                                     RecordLine(r, "writeDataValue cannot be null")}));
    Built<WriteRegistryValueJson> null(typed + R"(,"writeDataValue":null})");
    EXPECT_EQ(null.code, Svc::InvalidWriteData);
    for (const char* data : {"0", "\"\"", "[]", "{}", "false"}) {
        Built<WriteRegistryValueJson> ok(typed + ",\"writeDataValue\":" + data + "}");
        ASSERT_TRUE(ok.record) << data;
        EXPECT_EQ(ok.record->writeDataValue, &ok.parsed.doc[WIDE("writeDataValue")]);
    }
}

TEST(RequestRecords, DeleteRegistryValueNamesItsValueKeyValueName) {
    Built<DeleteRegistryValueJson> empty(std::string("{") + kPath + R"(,"regKeyValueName":""})");
    EXPECT_EQ(empty.code, Svc::InvalidValueName);
    EXPECT_EQ(empty.log, std::vector<std::string>{RecordLine("DeleteRegistryValueJson", "keyValueName cannot be null")});
    Built<DeleteRegistryValueJson> ok(std::string("{") + kPath + R"(,"regKeyValueName":"v\u0000w"})");
    ASSERT_TRUE(ok.record);
    EXPECT_EQ(U8(ok.record->regKeyValueName), "v");
}
