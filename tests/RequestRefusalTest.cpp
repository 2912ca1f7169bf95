// Through the host contract: every function id refuses a request with a missing,
// empty or mistyped key path or value name with its record's code, an untouched "{}"
// response, the warnings in order, and before the access policy is asked anything.
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

}  // namespace

TEST(RequestRefusal, EveryFunctionIdRefusesABadKeyPathOrValueName) {
    LoadedService service;
    ASSERT_NE(service.get(), nullptr);
    for (const Command& c : kCommands) {
        const std::string record = std::string("Qv::Corvane::Server::Services::Kestrane::") + c.record + "." +
                                   c.record + " - ";
        const std::string refused = record + "keyPath cannot be null";
        const std::string missing = kGetLine + "document missing key keyPath";
        std::vector<Refusal> rows = {
            {"{}", Svc::InvalidKeyPath, {missing, refused}},
            {R"({"keyPath":""})", Svc::InvalidKeyPath, {refused}},
            // A key path is its text up to the first NUL; one that starts with a NUL is empty.
            {R"({"keyPath":"\u0000HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})", Svc::InvalidKeyPath, {refused}},
            {R"({"keyPath":5,"regKeyValueName":""})", Svc::InvalidKeyPath,
             {kParseLine + "keyPath is invalid type expected 5 result 6", refused}},
            {R"({"keyPath":null})", Svc::InvalidKeyPath, {kGetLine + "keyPath cannot be null", refused}},
            {R"([{"keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"}])", Svc::InvalidKeyPath, {missing, refused}},
            // Names match whole and exactly, and only an object has members.
            {R"({"KeyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})", Svc::InvalidKeyPath, {missing, refused}},
            {R"({"keyPath\u0000":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV"})", Svc::InvalidKeyPath, {missing, refused}},
            {R"("keyPath")", Svc::InvalidKeyPath, {missing, refused}},
        };
        if (c.nameLabel) {
            const std::string path = R"("keyPath":"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV")";
            const std::string nameRefused = record + c.nameLabel + " cannot be null";
            rows.push_back({"{" + path + "}", Svc::InvalidValueName,
                            {kGetLine + "document missing key regKeyValueName", nameRefused}});
            rows.push_back({"{" + path + R"(,"regKeyValueName":""})", Svc::InvalidValueName, {nameRefused}});
            rows.push_back({"{" + path + R"(,"regKeyValueName":true})", Svc::InvalidValueName,
                            {kParseLine + "regKeyValueName is invalid type expected 5 result 2", nameRefused}});
        }
        for (const Refusal& row : rows) {
            LogCapture capture;
            FixedPolicy policy(true);
            const Reply reply = Execute(service.get(), c.id, row.request, &policy);
            const std::string where = "id " + std::to_string(c.id) + ": " + row.request;
            EXPECT_EQ(reply.status, row.status) << where;
            EXPECT_EQ(reply.text, "{}") << where;
            EXPECT_EQ(policy.asked, 0) << where;
            EXPECT_EQ(capture.Messages(), row.log) << where;
            for (const CapturedLog& r : capture.Records()) {
                EXPECT_EQ(r.level, Qv::Corvane::Logging::LogLevel::Warning) << where;
                EXPECT_EQ(r.clientId, "test-client") << where;
            }
        }
    }
}
