// Ids 2 and 16: keys and values created through the write whitelist, every writable
// type in the JSON form the reads produce, and what a refused write leaves behind.
#include "tests/JsonText.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

const std::string kService = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

std::string WriteValue(const std::string& path, const std::string& name, int type, const std::string& dataJson) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) +
           ",\"requestedDataType\":" + std::to_string(type) + ",\"writeDataValue\":" + dataJson + "}";
}

Bytes Stored(const ScratchKey& key, const std::string& name, DWORD expectedType) {
    DWORD type = 0;
    Bytes data;
    EXPECT_TRUE(key.GetValue(name, &type, &data)) << name;
    EXPECT_EQ(type, expectedType) << name;
    return data;
}

}  // namespace

TEST(WriteCommands, EachTypeIsStoredAsTheRegistryFormOfItsJson) {
    ScratchKey key("WriteTypes");
    LoadedService service;
    struct Row {
        int type;
        std::string json;
        Bytes bytes;
    };
    const Row rows[] = {
        {REG_SZ, R"("")", UnitBytes(WString(1, 0))},
        {REG_SZ, R"("ab\u0000cd")", UnitBytes(W(std::string("ab\0", 3)))},  // only what precedes a NUL
        {REG_EXPAND_SZ, R"("%SystemRoot%")", UnitBytes(W(std::string("%SystemRoot%\0", 13)))},
        {REG_DWORD, "-1", Bytes(4, 0xFF)},
        {REG_DWORD, "2147483647", Bytes{0xFF, 0xFF, 0xFF, 0x7F}},
        {REG_QWORD, "-1", Bytes(8, 0xFF)},
        {REG_QWORD, "9223372036854775807", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
        {REG_QWORD, "5", Bytes{5, 0, 0, 0, 0, 0, 0, 0}},
        {REG_MULTI_SZ, R"(["a","bc"])", UnitBytes(W(std::string("a\0bc\0\0", 6)))},
        {REG_MULTI_SZ, "[]", UnitBytes(WString(1, 0))},
        {REG_BINARY, R"("AAEC")", Bytes{0, 1, 2}},
        {REG_BINARY, R"("AA\r\nEC\r\n")", Bytes{0, 1, 2}},  // the encoder's line breaks are accepted
    };
    int n = 0;
    for (const Row& row : rows) {
        const std::string name = "V" + std::to_string(n++);
        const Reply reply = Execute(service.get(), 16, WriteValue(key.Path(), name, row.type, row.json));
        EXPECT_EQ(reply.status, Svc::Success) << row.json;
        EXPECT_EQ(reply.text, "{\"result\":true}") << row.json;
        EXPECT_EQ(Stored(key, name, static_cast<DWORD>(row.type)), row.bytes) << row.json;
    }
}

TEST(WriteCommands, AValueOfTheWrongFormWritesNothing) {
    ScratchKey key("WriteRefused");
    LoadedService service;
    LogCapture capture;
    struct Row {
        int type;
        std::string json;
        uint32_t status;
    };
    const Row rows[] = {
        {REG_DWORD, "4294967295", Svc::GeneralFailure},  // does not fit a signed 32-bit integer
        {REG_DWORD, "1.5", Svc::GeneralFailure},
        {REG_DWORD, "1e2", Svc::GeneralFailure},         // the parser stores an exponent form as a double
        {REG_DWORD, R"("1")", Svc::GeneralFailure},
        {REG_QWORD, "9223372036854775808", Svc::GeneralFailure},
        {REG_SZ, "5", Svc::GeneralFailure},
        {REG_MULTI_SZ, R"(["a",5])", Svc::GeneralFailure},
        {REG_MULTI_SZ, R"("a")", Svc::GeneralFailure},
        {REG_BINARY, R"("not base64!")", Svc::GeneralFailure},
        {REG_BINARY, "[]", Svc::GeneralFailure},
    };
    for (const Row& row : rows) {
        const Reply reply = Execute(service.get(), 16, WriteValue(key.Path(), "V", row.type, row.json));
        EXPECT_EQ(reply.status, row.status) << row.json;
        EXPECT_EQ(reply.text, "{}") << row.json;
        DWORD type;
        Bytes data;
        EXPECT_FALSE(key.GetValue("V", &type, &data)) << row.json;
    }
    // Only the undecodable text has a message of its own.
    std::size_t base64Warnings = 0;
    for (const std::string& line : capture.Messages())
        base64Warnings += line == kService + "WriteValueToRegistry - unable to 64 base encode binary";
    EXPECT_EQ(base64Warnings, 1u);
}

TEST(WriteCommands, KeysAreCreatedWithTheirParentsAndAFailedValueLeavesItsKey) {
    ScratchKey key("WriteKeys");
    LoadedService service;
    LogCapture capture;
    const Reply created = Execute(service.get(), 2, "{\"keyPath\":" + Quote(key.Path("A\\B\\C")) + "}");
    EXPECT_EQ(created.status, Svc::Success);
    EXPECT_EQ(created.text, "{\"result\":true}");
    EXPECT_TRUE(key.KeyExists("A\\B\\C"));
    EXPECT_EQ(capture.Messages().back(),
              kService + "WriteRegistryKey - create reg key at key path: HKEY_LOCAL_MACHINE");
    // An existing key is opened the same way.
    EXPECT_EQ(Execute(service.get(), 2, "{\"keyPath\":" + Quote(key.Path("A")) + "}").text, "{\"result\":true}");

    const Reply failed = Execute(service.get(), 16, WriteValue(key.Path("New\\Key"), "V", REG_DWORD, R"("x")"));
    EXPECT_EQ(failed.status, Svc::GeneralFailure);
    EXPECT_TRUE(key.KeyExists("New\\Key"));
}

TEST(WriteCommands, TheWriteWhiteListGatesBothCommandsUnlessThePolicyExempts) {
    ScratchKey key("WriteWhiteList");
    LoadedService service;
    // Readable, not writable: refused before anything is created.
    const std::string readOnly = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\KestraneWriteTest";
    LogCapture capture;
    const Reply refused = Execute(service.get(), 2, "{\"keyPath\":" + Quote(readOnly) + "}");
    EXPECT_EQ(refused.status, Svc::NotWhiteListed);
    EXPECT_EQ(refused.text, "{}");
    EXPECT_EQ(capture.Messages().back(),
              kService + "WriteRegistryKey - unable to get root key from keyPath: " + readOnly);
    EXPECT_EQ(Execute(service.get(), 16, WriteValue(readOnly, "V", REG_DWORD, "1")).status, Svc::NotWhiteListed);
    EXPECT_EQ(Execute(service.get(), 0, "{\"keyPath\":" + Quote(readOnly) + "}").text, "{\"result\":false}");

    FixedPolicy exempt(true);
    EXPECT_EQ(Execute(service.get(), 16, WriteValue(readOnly, "V", REG_DWORD, "1"), &exempt).status, Svc::Success);
    EXPECT_EQ(Execute(service.get(), 0, "{\"keyPath\":" + Quote(readOnly) + "}").text, "{\"result\":true}");
    DeleteTree(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Microsoft\\KestraneWriteTest"));

    // The lists fold case, root names do not.
    const std::string lower = "hkey_local_machine\\software\\qv\\KestraneTest\\WriteWhiteList";
    EXPECT_EQ(Execute(service.get(), 2, "{\"keyPath\":" + Quote(lower) + "}").status, Svc::RootKeyNotFound);
}
