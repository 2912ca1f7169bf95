// The command paths only a refusing or failing registry reaches, over the emulated
// platform: each gives its status and its one line, and no key stays open.
#ifndef _WIN32

#include "platform/native/Emulation.h"
#include "tests/JsonTestSupport.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

class RegistryFault : public ::testing::Test {
protected:
    void TearDown() override {
        KestraneEmu::ClearFaults();
        EXPECT_EQ(KestraneEmu::OpenKeyCount(), 0u);
        EXPECT_EQ(KestraneEmu::OpenHandleCount(), 0u);
        EXPECT_EQ(KestraneEmu::LocalAllocCount(), 0u);
    }
    // The request with the given call failing, once, at its nth use.
    Reply RunFailing(const char* function, int nth, DWORD error, int32_t id, const std::string& request) {
        KestraneEmu::FailCall(function, nth, error);
        const Reply reply = Execute(service.get(), id, request);
        KestraneEmu::ClearFaults();
        return reply;
    }

    ScratchKey key{"Faults"};
    LoadedService service;
};

}  // namespace

TEST_F(RegistryFault, WritesAndDeletesTheRegistryRefuses) {
    key.CreateKey("Locked");
    key.CreateKey("Sealed");
    key.SetString("V", "x");
    // Readable but not deletable: the key is there, so the answer is a plain failure.
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("Locked"), KEY_SET_VALUE);
    // Neither deletable nor readable: the registry's own error number is the status.
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("Sealed"), KEY_READ);
    KestraneEmu::DenyAccess(HKEY_LOCAL_MACHINE, key.SubKey("NoCreate"), KEY_CREATE_SUB_KEY);
    ExpectReplies(service.get(), {
        {32, Req::Key(key.Path("Locked")), Svc::GeneralFailure, "{}", {}},
        {32, Req::Key(key.Path("Sealed")), 5u, "{}", {"DeleteRegistryKey: Error opening key."}},
        {2, Req::Key(key.Path("NoCreate")), Svc::GeneralFailure, "{\"result\":false}",
         {kServicePrefix + "WriteRegistryKey failed on function RegCreateKeyEx with result 5"}},
        {16, Req::Write(key.Path("NoCreate"), "V", REG_DWORD, "1"), Svc::OpenKeyFailed, "{}",
         {kServicePrefix + "WriteRegistryValue failed on function RegOpenKeyEx with result 5"}},
    });
    LogCapture capture;
    const Reply undeleted = RunFailing("RegDeleteKeyValueW", 1, ERROR_ACCESS_DENIED, 64, Req::Value(key.Path(), "V"));
    EXPECT_EQ(undeleted.status, Svc::DeleteValueFailed);
    EXPECT_EQ(undeleted.text, "{\"result\":false}");
    EXPECT_EQ(RunFailing("RegSetValueExW", 1, ERROR_ACCESS_DENIED, 16, Req::Write(key.Path(), "W", REG_SZ, "\"x\"")).status,
              Svc::GeneralFailure);
    // The decoding call fails although the sizing call worked: nothing is written.
    EXPECT_EQ(RunFailing("CryptStringToBinaryW", 2, ERROR_INVALID_DATA, 16,
                         Req::Write(key.Path(), "W", REG_BINARY, "\"AAEC\"")).status,
              Svc::GeneralFailure);
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                      kServicePrefix + "WriteValueToRegistry failed on function RegSetValueEx with result 5",
                                      kServicePrefix + "WriteValueToRegistry - unable to 64 base encode binary"}));
    DWORD type;
    Bytes data;
    EXPECT_FALSE(key.GetValue("W", &type, &data));
}

TEST_F(RegistryFault, ReadsLeaveOutWhatFailsAndStopWhereTheyMust) {
    key.SetValue("A", REG_DWORD, Bytes{1, 0, 0, 0});
    key.SetValue("B", REG_BINARY, Bytes{1, 2, 3});
    key.SetValue("C", REG_DWORD, Bytes{3, 0, 0, 0});
    key.CreateKey("S1");
    key.CreateKey("S2");
    {
        LogCapture capture;
        const Reply values = RunFailing("RegEnumValueW", 2, ERROR_NO_MORE_ITEMS, 8, Req::Key(key.Path()));
        EXPECT_EQ(values.status, Svc::Success);
        EXPECT_EQ(ParseReply(values.text)["result"].MemberCount(), 2u);
        const Reply subkeys = RunFailing("RegEnumKeyExW", 1, ERROR_NO_MORE_ITEMS, 128, Req::Key(key.Path()));
        EXPECT_EQ(subkeys.status, Svc::Success);
        EXPECT_EQ(ParseReply(subkeys.text)["result"].MemberCount(), 1u);
        EXPECT_EQ(RunFailing("CryptBinaryToStringW", 1, ERROR_INVALID_PARAMETER, 4, Req::Value(key.Path(), "B")).status,
                  Svc::GeneralFailure);
        EXPECT_EQ(capture.Messages(), (std::vector<std::string>{
                                          kServicePrefix + "EnumerateRegKeyValues failed on function RegEnumValue with result 259",
                                          kServicePrefix + "EnumerateRegSubKeys failed on function RegEnumKeyEx with result 259",
                                          kServicePrefix + "BinaryToJsonValue - unable to 64 base encode binary",
                                          kServicePrefix + "GetRegKeyValue - B unable to write json value for $s"}));
    }
    for (int32_t id : {8, 128}) {
        LogCapture capture;
        const Reply reply = RunFailing("RegQueryInfoKeyW", 1, ERROR_INVALID_HANDLE, id, Req::Key(key.Path()));
        EXPECT_EQ(reply.status, Svc::GeneralFailure) << id;
        EXPECT_EQ(reply.text, "{}") << id;
        EXPECT_EQ(capture.Messages(), std::vector<std::string>{
                                          kServicePrefix + "GetRegistryKeyInfo failed on function RegQueryInfoKey with result 6"});
    }
}

#endif
