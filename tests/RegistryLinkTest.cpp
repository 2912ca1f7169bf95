// A client that may create keys under a writable key could plant a registry link
// there, pointing at a key the lists forbid, and ask the service to act through it:
// through a standing link, through one whose target is missing, deep below one, or
// through one it keeps swapping with a plain key while the service works. Nothing may
// change outside the lists. Planting links takes the real platform: under Wine only.
#ifdef _WIN32

#include "platform/NtKeyCalls.h"
#include "tests/RegistryFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace KestraneTest;

namespace {

const WString kTarget = W("SOFTWARE\\KestraneLinkTarget");    // in neither list
const WString kMissing = W("SOFTWARE\\KestraneLinkMissing");  // ditto, never made

// Everything below a key: its values with their bytes, its subkeys, recursively.
std::string Snapshot(HKEY root, const WString& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    std::string out;
    WCHAR name[256];
    BYTE data[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += U8(WString(name, length)) + "=" + std::string(reinterpret_cast<char*>(data), size) + ";";
    }
    std::vector<WString> children;
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const WString& child : children) out += "[" + U8(child) + ":" + Snapshot(root, subKey + L"\\" + child) + "]";
    return out;
}

void MakeTarget() {
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
    HKEY target = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kTarget + L"\\Leaf").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &target, nullptr),
              ERROR_SUCCESS);
    const char secret[] = "secret";
    RegSetValueExW(target, L"Secret", 0, REG_BINARY, reinterpret_cast<const BYTE*>(secret), sizeof secret - 1);
    RegCloseKey(target);
}

std::string Named(const std::string& path, const char* value) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":\"" + value + "\"}";
}
std::string KeyOnly(const std::string& path) { return "{\"keyPath\":" + Quote(path) + "}"; }
std::string WriteDword(const std::string& path) {
    return "{\"keyPath\":" + Quote(path) + ",\"regKeyValueName\":\"Planted\",\"requestedDataType\":4,\"writeDataValue\":1}";
}

}  // namespace

TEST(RegistryLink, CommandsRefuseWhatALinkLeadsOutOfTheLists) {
    ScratchKey scratch("Links");
    MakeTarget();
    DeleteTree(HKEY_LOCAL_MACHINE, kMissing);
    ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, scratch.SubKey("Link"), L"\\Registry\\Machine\\" + kTarget + L"\\Leaf"),
              ERROR_SUCCESS);
    ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, scratch.SubKey("Dangling"), L"\\Registry\\Machine\\" + kMissing),
              ERROR_SUCCESS);
    const std::string before = Snapshot(HKEY_LOCAL_MACHINE, kTarget);
    LoadedService service;
    const std::string link = scratch.Path("Link");
    const std::string dangling = scratch.Path("Dangling");
    // Without the checks, the write landed in the target, and the creates made keys
    // there (both seen here before); without the component-wise create, the deep ones did.
    const std::pair<int32_t, std::string> requests[] = {
        {16, WriteDword(link)}, {2, KeyOnly(link)}, {4, Named(link, "Secret")}, {8, KeyOnly(link)},
        {128, KeyOnly(link)}, {64, Named(link, "Secret")}, {32, KeyOnly(link)},
        {2, KeyOnly(link + "\\a\\b")}, {16, WriteDword(link + "\\a")},
        {2, KeyOnly(dangling)}, {2, KeyOnly(dangling + "\\a\\b")}, {16, WriteDword(dangling + "\\a")},
    };
    for (const auto& [id, request] : requests) {
        LogCapture capture;
        const Reply reply = Execute(service.get(), id, request);
        EXPECT_EQ(reply.status, Svc::NotWhiteListed) << request;
        EXPECT_EQ(reply.text, "{}") << request;
        ASSERT_FALSE(capture.Messages().empty()) << request;
        EXPECT_NE(capture.Messages().back().find(" is outside the whitelist: refused"), std::string::npos)
            << capture.Messages().back();
    }
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, kTarget), before);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, kMissing), "<none>");
    // The host may exempt a call from the lists, and so from these checks.
    FixedPolicy exempt(true);
    EXPECT_EQ(Execute(service.get(), 4, Named(link, "Secret"), &exempt).status, Svc::Success);
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
}

// A client keeps turning one name below a writable key from a plain key into a link
// to a key outside the lists and back, while the service serves each command on that
// name: whatever the timing, the target stays as it was and nothing is read from it.
TEST(RegistryLink, SwappingAKeyAndALinkChangesNothingOutsideTheLists) {
    constexpr int kCallsPerCommand = 150;
    constexpr auto kTimePerCommand = std::chrono::seconds(4);
    ScratchKey scratch("Race");
    MakeTarget();
    const std::string before = Snapshot(HKEY_LOCAL_MACHINE, kTarget);
    const WString race = scratch.SubKey("race");
    const WString target = L"\\Registry\\Machine\\" + kTarget + L"\\Leaf";
    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::thread swapper([&] {
        const char open[] = "public";
        while (!stop) {
            HKEY plain = nullptr;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, race.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &plain,
                                nullptr) == ERROR_SUCCESS) {
                RegSetValueExW(plain, L"Secret", 0, REG_BINARY, reinterpret_cast<const BYTE*>(open), sizeof open - 1);
                RegCloseKey(plain);
            }
            std::this_thread::yield();
            DeleteTree(HKEY_LOCAL_MACHINE, race);
            CreateRegistryLink(HKEY_LOCAL_MACHINE, race, target);
            std::this_thread::yield();
            DeleteTree(HKEY_LOCAL_MACHINE, race);  // the link itself, never its target
            ++swaps;
        }
    });
    LoadedService service;
    const std::string path = scratch.Path("race");
    const std::pair<int32_t, std::string> requests[] = {
        {0, KeyOnly(path)},         {4, Named(path, "Secret")}, {8, KeyOnly(path)},
        {128, KeyOnly(path)},       {2, KeyOnly(path + "\\a\\b")}, {16, WriteDword(path)},
        {64, Named(path, "Secret")}, {32, KeyOnly(path)},
    };
    for (const auto& [id, request] : requests) {
        const auto deadline = std::chrono::steady_clock::now() + kTimePerCommand;
        int served = 0;
        for (int i = 0; i < kCallsPerCommand && std::chrono::steady_clock::now() < deadline; ++i, ++served) {
            const Reply reply = Execute(service.get(), id, request);
            EXPECT_EQ(reply.text.find("c2VjcmV0"), std::string::npos) << id << ": read the target: " << reply.text;
        }
        EXPECT_GT(served, 0);
        EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, kTarget), before) << "after id " << id;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 8);
    DeleteTree(HKEY_LOCAL_MACHINE, race);
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
}

#endif
