// The command paths only a refusing or failing registry reaches, over the emulated
// platform: each gives its status and its one line, and no key stays open.
#ifndef _WIN32

#include "platform/native/Emulation.h"
#include "tests/JsonText.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;
using Qv::Corvane::Logging::LogLevel;

namespace {

const std::string kService = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

class RegistryFault : public ::testing::Test {
protected:
    void TearDown() override {
        KestraneEmu::ClearFaults();
        KestraneEmu::SetRpcClientPid(0);
        EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
        EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u);
        EXPECT_EQ(KestraneEmu::LocalAllocCount(), 0u);
    }
    Reply Run(int32_t id, const std::string& request) { return Execute(service.get(), id, request); }

    ScratchKey key{"Faults"};
    LoadedService service;
};

// With every optional member given, so that each case logs only its own line.
std::string KeyOnly(const std::string& path) { return "{\"keyPath\":" + Quote(path) + ",\"expandString\":false}"; }
std::string Named(const std::string& path, const std::string& name) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":" + Quote(name) + "}";
}
std::string Write(const std::string& path, int type, const std::string& json) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":\"V\",\"requestedDataType\":" +
           std::to_string(type) + ",\"writeDataValue\":" + json + "}";
}

}  // namespace

TEST_F(RegistryFault, DeletesTheRegistryRefuses) {
    key.CreateKey("Locked");
    key.CreateKey("Sealed");
    key.SetString("V", "x");
    // Readable but not deletable: the key is there, so the answer is a plain failure.
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("Locked"), KEY_SET_VALUE);
    // Neither deletable nor readable: the registry's own error number is the status.
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("Sealed"), KEY_READ);
    {
        LogCapture capture;
        const Reply reply = Run(32, KeyOnly(key.Path("Locked")));
        EXPECT_EQ(reply.status, Svc::GeneralFailure);
        EXPECT_EQ(reply.text, "{}");
        EXPECT_TRUE(capture.Messages().empty());
    }
    {
        LogCapture capture;
        const Reply reply = Run(32, KeyOnly(key.Path("Sealed")));
        EXPECT_EQ(reply.status, 5u);
        EXPECT_EQ(reply.text, "{}");
        const std::vector<CapturedLog> log = capture.Records();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].message, "DeleteRegistryKey: Error opening key.");
        EXPECT_EQ(log[0].level, LogLevel::Error);
    }
    {
        LogCapture capture;
        KestraneEmu::FailCall("RegDeleteKeyValueW", 1, ERROR_ACCESS_DENIED);
        const Reply reply = Run(64, Named(key.Path(), "V"));
        EXPECT_EQ(reply.status, Svc::DeleteValueFailed);
        EXPECT_EQ(reply.text, "{\"result\":false}");
        EXPECT_TRUE(capture.Messages().empty());
    }
}

TEST_F(RegistryFault, WritesTheRegistryRefuses) {
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("NoCreate"), KEY_CREATE_SUB_KEY);
    struct Row {
        int32_t id;
        std::string request;
        uint32_t status;
        std::string text;
        std::string log;
    };
    const Row rows[] = {
        {2, KeyOnly(key.Path("NoCreate")), Svc::GeneralFailure, "{\"result\":false}",
         kService + "WriteRegistryKey failed on function RegCreateKeyEx with result 5"},
        {16, Write(key.Path("NoCreate"), REG_DWORD, "1"), Svc::OpenKeyFailed, "{}",
         kService + "WriteRegistryValue failed on function RegOpenKeyEx with result 5"},
    };
    for (const Row& row : rows) {
        LogCapture capture;
        const Reply reply = Run(row.id, row.request);
        EXPECT_EQ(reply.status, row.status) << row.request;
        EXPECT_EQ(reply.text, row.text) << row.request;
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{row.log}) << row.request;
    }
    {
        LogCapture capture;
        KestraneEmu::FailCall("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
        const Reply reply = Run(16, Write(key.Path(), REG_SZ, "\"x\""));
        EXPECT_EQ(reply.status, Svc::GeneralFailure);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kService + "WriteValueToRegistry failed on function RegSetValueEx with result 5"});
    }
    {
        // The decoding call fails although the sizing call worked: nothing is written.
        LogCapture capture;
        KestraneEmu::FailCall("CryptStringToBinaryW", 2, ERROR_INVALID_DATA);
        EXPECT_EQ(Run(16, Write(key.Path(), REG_BINARY, "\"AAEC\"")).status, Svc::GeneralFailure);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kService + "WriteValueToRegistry - unable to 64 base encode binary"});
        DWORD type;
        Bytes data;
        EXPECT_FALSE(key.GetValue("V", &type, &data));
    }
}

TEST_F(RegistryFault, ReadsLeaveOutWhatFailsAndStopWhereTheyMust) {
    key.SetValue("A", REG_DWORD, Bytes{1, 0, 0, 0});
    key.SetValue("B", REG_BINARY, Bytes{1, 2, 3});
    key.SetValue("C", REG_DWORD, Bytes{3, 0, 0, 0});
    key.CreateKey("S1");
    key.CreateKey("S2");
    {
        LogCapture capture;
        KestraneEmu::FailCall("RegEnumValueW", 2, ERROR_NO_MORE_ITEMS);
        const Reply reply = Run(8, KeyOnly(key.Path()));
        EXPECT_EQ(reply.status, Svc::Success);
        EXPECT_EQ(ParseReply(reply.text)["result"].MemberCount(), 2u);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kService + "EnumerateRegKeyValues failed on function RegEnumValue with result 259"});
    }
    {
        LogCapture capture;
        KestraneEmu::FailCall("CryptBinaryToStringW", 1, ERROR_INVALID_PARAMETER);
        const Reply reply = Run(4, Named(key.Path(), "B"));
        EXPECT_EQ(reply.status, Svc::GeneralFailure);
        EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                          "Qv::Corvane::Server::Services::JsonUtils.GetJsonValue - document missing key expandString",
                                          kService + "BinaryToJsonValue - unable to 64 base encode binary",
                                          kService + "GetRegKeyValue - B unable to write json value for $s"}));
    }
    {
        LogCapture capture;
        KestraneEmu::FailCall("RegEnumKeyExW", 1, ERROR_NO_MORE_ITEMS);
        const Reply reply = Run(128, KeyOnly(key.Path()));
        EXPECT_EQ(reply.status, Svc::Success);
        EXPECT_EQ(ParseReply(reply.text)["result"].MemberCount(), 1u);
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kService + "EnumerateRegSubKeys failed on function RegEnumKeyEx with result 259"});
    }
    for (int32_t id : {8, 128}) {
        LogCapture capture;
        KestraneEmu::FailCall("RegQueryInfoKeyW", 1, ERROR_INVALID_HANDLE);
        const Reply reply = Run(id, KeyOnly(key.Path()));
        EXPECT_EQ(reply.status, Svc::GeneralFailure) << id;
        EXPECT_EQ(reply.text, "{}") << id;
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kService + "GetRegistryKeyInfo failed on function RegQueryInfoKey with result 6"});
    }
}

TEST_F(RegistryFault, CurrentUserWritesAndDeletesLandInTheCallersHive) {
    const std::u16string sid = u"S-1-5-21-5-5-5-1005";
    KestraneEmu::AddProcess(777, sid);
    HKEY hive = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, sid.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hive);
    KestraneEmu::SetRpcClientPid(777);

    EXPECT_EQ(Run(16, Write("HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine", REG_DWORD, "7")).text, "{\"result\":true}");
    const std::u16string inHive = sid + u"\\SOFTWARE\\QV\\Mine";
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(RegGetValueW(HKEY_USERS, inHive.c_str(), u"V", RRF_RT_ANY, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    // The host's own user never saw it.
    HKEY own = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, (std::u16string(KestraneEmu::kDefaultUserSid) + u"\\SOFTWARE\\QV\\Mine").c_str(),
                            0, KEY_READ, &own),
              ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(Run(4, Named("HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine", "V")).text,
              "{\"result\":{\"V\":{\"dataType\":4,\"valueData\":7}}}");
    // The value delete resolves the root twice, for reading and for writing.
    EXPECT_EQ(Run(64, Named("HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine", "V")).text, "{\"result\":true}");
    EXPECT_EQ(Run(32, KeyOnly("HKEY_CURRENT_USER\\SOFTWARE\\QV\\Mine")).text, "{\"result\":true}");
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, inHive.c_str(), 0, KEY_READ, &own), ERROR_FILE_NOT_FOUND);
}

#endif
