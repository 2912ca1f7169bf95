// A client that may create keys under a writable key could plant a registry link
// there, pointing at a key the lists forbid, and ask the service to act through it.
// Registry links exist only on the real platform.
#ifdef _WIN32

#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

const WString kTarget = W("SOFTWARE\\KestraneLinkTarget");  // in neither list

void PlantLink(const ScratchKey& scratch, const std::string& name) {
    HKEY link = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, scratch.SubKey(name).c_str(), 0, nullptr,
                              REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                              &link, nullptr),
              ERROR_SUCCESS);
    const WString target = W("\\Registry\\Machine\\") + kTarget;
    EXPECT_EQ(RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                             static_cast<DWORD>(target.size() * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(link);
}

bool TargetHas(const wchar_t* value) {
    DWORD size = 0;
    return RegGetValueW(HKEY_LOCAL_MACHINE, kTarget.c_str(), value, RRF_RT_ANY, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
}

}  // namespace

TEST(RegistryLink, CommandsRefuseAKeyThatALinkLeadsOutOfTheLists) {
    ScratchKey scratch("Links");
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
    HKEY target = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTarget.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target,
                              nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    RegSetValueExW(target, L"Secret", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(target);
    PlantLink(scratch, "Link");
    LoadedService service;
    const std::string link = Quote(scratch.Path("Link"));
    // Without the check, the write lands in the target (seen here before it was added).
    const std::pair<int32_t, std::string> requests[] = {
        {16, "{\"keyPath\":" + link + ",\"regKeyValueName\":\"Planted\",\"requestedDataType\":4,\"writeDataValue\":1}"},
        {2, "{\"keyPath\":" + link + "}"},
        {4, "{\"keyPath\":" + link + ",\"regKeyValueName\":\"Secret\"}"},
        {8, "{\"keyPath\":" + link + "}"},
        {128, "{\"keyPath\":" + link + "}"},
        {64, "{\"keyPath\":" + link + ",\"regKeyValueName\":\"Secret\"}"},
        {32, "{\"keyPath\":" + link + "}"},
    };
    for (const auto& [id, request] : requests) {
        LogCapture capture;
        const Reply reply = Execute(service.get(), id, request);
        EXPECT_EQ(reply.status, Svc::NotWhiteListed) << id;
        EXPECT_EQ(reply.text, "{}") << id;
        ASSERT_FALSE(capture.Messages().empty()) << id;
        EXPECT_NE(capture.Messages().back().find("KestraneLinkTarget is outside the whitelist: refused"),
                  std::string::npos)
            << capture.Messages().back();
    }
    EXPECT_FALSE(TargetHas(L"Planted"));
    EXPECT_TRUE(TargetHas(L"Secret"));
    // The host may exempt a call from the lists, and so from this check.
    FixedPolicy exempt(true);
    EXPECT_EQ(Execute(service.get(), 4, "{\"keyPath\":" + link + ",\"regKeyValueName\":\"Secret\"}", &exempt).status,
              Svc::Success);
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
}

TEST(RegistryLink, TheSystemsOwnCurrentControlSetLinkStillWorks) {
    LoadedService service;
    const Reply reply = Execute(service.get(), 128, R"({"keyPath":"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum"})");
    EXPECT_EQ(reply.status, Svc::Success) << reply.text;
}

#endif
