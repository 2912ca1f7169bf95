// Through the host contract: every function id refuses a request with a missing,
// empty or mistyped member with its record's code, an untouched "{}" response, the
// warnings in order, and before the access policy is asked anything.
#include "tests/JsonTestSupport.h"

using namespace KestraneTest;

namespace {

struct Command {
    int32_t id;
    const char* record;
    const char* nameLabel;  // the label of "regKeyValueName", nullptr when not read
};

const Command kCommands[] = {
    {0, "CheckRegistryPathJson", nullptr},   {2, "WriteRegistryKeyJson", nullptr},
    {4, "ReadRegistryValueJson", "regKeyValueName"}, {8, "ReadRegistryValuesJson", nullptr},
    {16, "WriteRegistryValueJson", "regKeyValueName"}, {32, "DeleteRegistryKeyJson", nullptr},
    {64, "DeleteRegistryValueJson", "keyValueName"}, {128, "ReadRegistryValuesJson", nullptr},
};

struct Refusal {
    std::string request;
    uint32_t status;
    std::vector<std::string> log;
};

void ExpectRefusal(Svc::QVService* service, int32_t id, const Refusal& expected) {
    LogCapture capture;
    FixedPolicy policy(true);
    const Reply reply = Execute(service, id, expected.request, &policy);
    const std::string where = "id " + std::to_string(id) + ": " + expected.request;
    EXPECT_EQ(reply.status, expected.status) << where;
    EXPECT_TRUE(reply.hasText) << where;
    EXPECT_EQ(reply.text, "{}") << where;
    EXPECT_EQ(policy.asked, 0) << where;
    EXPECT_EQ(capture.Messages(), expected.log) << where;
    for (const CapturedLog& r : capture.Records()) {
        EXPECT_EQ(r.level, Qv::Corvane::Logging::LogLevel::Warning) << where;
        EXPECT_EQ(r.clientId, "test-client") << where;
    }
}

}  // namespace

TEST(RequestRefusal, EveryFunctionIdRefusesABadKeyPath) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    for (const Command& c : kCommands) {
        const std::string record = std::string("Qv::Corvane::Server::Services::Kestrane::") + c.record + "." +
                                   c.record + " - ";
        const std::string refused = record + "keyPath cannot be null";
        const std::string missing = kGetLine + "document missing key keyPath";
        const Refusal rows[] = {
            {"{}", Svc::InvalidKeyPath, {missing, refused}},
            {R"({"keyPath":""})", Svc::InvalidKeyPath, {refused}},
            {R"({"keyPath":"\u0000HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})", Svc::InvalidKeyPath, {refused}},
            {R"({"keyPath":5,"regKeyValueName":""})", Svc::InvalidKeyPath,
             {kParseLine + "keyPath is invalid type expected 5 result 6", refused}},
            {R"({"keyPath":["HKEY_LOCAL_MACHINE"]})", Svc::InvalidKeyPath,
             {kParseLine + "keyPath is invalid type expected 5 result 4", refused}},
            {R"({"keyPath":null})", Svc::InvalidKeyPath, {kGetLine + "keyPath cannot be null", refused}},
            {R"({"KEYPATH":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})", Svc::InvalidKeyPath, {missing, refused}},
            {"42", Svc::InvalidKeyPath, {missing, refused}},
            {R"("HKEY_LOCAL_MACHINE\\SOFTWARE\\QV")", Svc::InvalidKeyPath, {missing, refused}},
            {R"([{"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"}])", Svc::InvalidKeyPath, {missing, refused}},
        };
        for (const Refusal& row : rows) ExpectRefusal(service.get(), c.id, row);
        if (!c.nameLabel) continue;

        const std::string path = R"("keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV")";
        const std::string nameRefused = record + c.nameLabel + " cannot be null";
        const Refusal nameRows[] = {
            {"{" + path + "}", Svc::InvalidValueName,
             {kGetLine + "document missing key regKeyValueName", nameRefused}},
            {"{" + path + R"(,"regKeyValueName":""})", Svc::InvalidValueName, {nameRefused}},
            {"{" + path + R"(,"regKeyValueName":true})", Svc::InvalidValueName,
             {kParseLine + "regKeyValueName is invalid type expected 5 result 2", nameRefused}},
        };
        for (const Refusal& row : nameRows) ExpectRefusal(service.get(), c.id, row);
    }
}

TEST(RequestRefusal, WriteRegistryValueRefusesDataTypeAndWriteData) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    const std::string record = "Qv::Corvane::Server::Services::Kestrane::WriteRegistryValueJson.WriteRegistryValueJson - ";
    const std::string head = R"({"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QVX","regKeyValueName":"v")";
    const std::string invalid = record + "data type is invalid to write to path HKEY_LOCAL_MACHINE\\SOFTWARE\\QVX";
    const Refusal rows[] = {
        {head + R"(,"writeDataValue":"x"})", Svc::InvalidDataType,
         {kGetLine + "document missing key requestedDataType", invalid}},
        {head + R"(,"requestedDataType":6,"writeDataValue":"x"})", Svc::InvalidDataType, {invalid}},
        {head + R"(,"requestedDataType":4294967297,"writeDataValue":1})", Svc::InvalidDataType,
         {kParseLine + "requestedDataType is invalid type expected 6 result 6", invalid}},
        {head + R"(,"requestedDataType":1})", Svc::InvalidWriteData,
         {kGetLine + "document missing key writeDataValue", record + "writeDataValue cannot be null"}},
        {head + R"(,"requestedDataType":1,"writeDataValue":null})", Svc::InvalidWriteData,
         {kGetLine + "writeDataValue cannot be null", record + "writeDataValue cannot be null"}},
    };
    for (const Refusal& row : rows) ExpectRefusal(service.get(), 16, row);
}
