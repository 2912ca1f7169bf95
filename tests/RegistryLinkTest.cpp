// A client that may create keys under a writable key could plant a registry link
// there, pointing at a key the lists forbid, and ask the service to act through it:
// through a standing link, through one whose target is missing, deep below one, or
// through one it keeps swapping with a plain key while the service works. Nothing may
// change outside the lists. Planting links takes the real platform: under Wine only.
#ifdef _WIN32

#include "platform/NtKeyCalls.h"
#include "tests/RegistryFixture.h"

#include <vector>

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

std::string WriteDword(const std::string& path) { return Req::Write(path, "Planted", REG_DWORD, "1"); }

using Requests = std::vector<std::pair<int32_t, std::string>>;

// Every list-gated id on `path`, and the creates and a write below it.
Requests EveryId(const std::string& path) {
    return {{16, WriteDword(path)},          {2, Req::Key(path)},   {4, Req::Value(path, "Secret")},
            {8, Req::Key(path)},             {128, Req::Key(path)}, {64, Req::Value(path, "Secret")},
            {32, Req::Key(path)},            {2, Req::Key(path + "\\a\\b")}, {16, WriteDword(path + "\\a")}};
}

// Each request refused, nothing answered, the refusal logged. Returns every line logged.
std::vector<std::string> ExpectRefused(Svc::QVService* service, const Requests& requests, const std::string& context) {
    std::vector<std::string> logged;
    for (const auto& [id, request] : requests) {
        LogCapture capture;
        const Reply reply = Execute(service, id, request);
        EXPECT_EQ(reply.status, Svc::NotWhiteListed) << context << ": " << request;
        EXPECT_EQ(reply.text, "{}") << context << ": " << request;
        const std::vector<std::string> lines = capture.Messages();
        EXPECT_TRUE(!lines.empty() && lines.back().find(" is outside the whitelist: refused") != std::string::npos)
            << context << ": " << request;
        logged.insert(logged.end(), lines.begin(), lines.end());
    }
    return logged;
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
    // Without the checks, the write landed in the target, and the creates made keys
    // there (both seen here before); without the component-wise create, the deep ones did.
    ExpectRefused(service.get(), EveryId(scratch.Path("Link")), "standing link");
    const std::string dangling = scratch.Path("Dangling");
    ExpectRefused(service.get(),
                  {{2, Req::Key(dangling)}, {2, Req::Key(dangling + "\\a\\b")}, {16, WriteDword(dangling + "\\a")}},
                  "dangling link");
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, kTarget), before);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, kMissing), "<none>");
    // The host may exempt a call from the lists, and so from these checks.
    FixedPolicy exempt(true);
    EXPECT_EQ(Execute(service.get(), 4, Req::Value(scratch.Path("Link"), "Secret"), &exempt).status, Svc::Success);
    DeleteTree(HKEY_LOCAL_MACHINE, kTarget);
}

namespace {

// A place where Windows keeps a link, made a plain key holding a link value for the test's
// length (or, for a plain key already, given the value), then put back as it was.
class FakeLinkPlace {
public:
    FakeLinkPlace(HKEY root, const WString& subKey, const WString& value) : root_(root), subKey_(subKey) {
        HKEY itself = nullptr;
        if (RegOpenKeyExW(root, subKey.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &itself) == ERROR_SUCCESS) {
            WCHAR units[512];
            DWORD type = 0;
            DWORD size = sizeof units;
            if (RegQueryValueExW(itself, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(units), &size) ==
                    ERROR_SUCCESS && type == REG_LINK)
                linkedTo_.assign(units, size / sizeof(WCHAR));
            RegCloseKey(itself);
        }
        if (!linkedTo_.empty()) DeleteTree(root, subKey);
        HKEY plain = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &plain, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(plain, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(plain);
    }
    ~FakeLinkPlace() {
        if (linkedTo_.empty()) {
            RegDeleteKeyValueW(root_, subKey_.c_str(), L"SymbolicLinkValue");
            return;
        }
        DeleteTree(root_, subKey_);
        // Windows' control-set link outlives the wineserver; the others are made again per run.
        EXPECT_EQ(CreateRegistryLink(root_, subKey_, linkedTo_, subKey_ != L"SYSTEM\\CurrentControlSet"),
                  ERROR_SUCCESS);
    }
    FakeLinkPlace(const FakeLinkPlace&) = delete;
    FakeLinkPlace& operator=(const FakeLinkPlace&) = delete;

private:
    HKEY root_;
    WString subKey_;
    WString linkedTo_;  // what the place led to; empty for a plain key
};

WString UserSid() {
    HKEY key = nullptr;
    WString name;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) == ERROR_SUCCESS) QueryKeyName(key, &name);
    if (key) RegCloseKey(key);
    const std::size_t end = name.rfind(L'\\');
    const std::size_t start = name.rfind(L'\\', end - 1);
    return end == WString::npos || start == WString::npos ? WString() : name.substr(start + 1, end - start - 1);
}

}  // namespace

// A key at a place where Windows keeps a link, holding a link value but no link (one an
// administrator or an earlier tool could leave): a real link planted below a writable key,
// leading where the value says, must not be served as if the place led there. Before, each
// of these was served (an HKLM value read as the machine's default user's, a write into
// the control set, a write outside the lists through the Printers key).
TEST(RegistryLink, APlainKeyHoldingALinkValueAddsNoWay) {
    const WString sid = UserSid();
    ASSERT_FALSE(sid.empty());
    const WString printers = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers";
    struct Case {
        HKEY root;
        WString place;
        WString value;    // what the plain key claims to lead to
        WString target;   // below HKEY_USERS or HKEY_LOCAL_MACHINE: what a planted link leads to
        HKEY targetRoot;
        bool warned;      // a place the check consults
    };
    const Case cases[] = {
        {HKEY_USERS, L"S-1-5-18", L"\\REGISTRY\\USER\\.DEFAULT",
         L".DEFAULT\\Control Panel\\International\\Geo\\KestraneFake", HKEY_USERS, true},
        {HKEY_CURRENT_USER, L"Software\\Classes", L"\\REGISTRY\\USER\\" + sid + L"_Classes",
         sid + L"_Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\Repository\\"
               L"Packages\\KestraneFake",
         HKEY_USERS, true},
        {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet", L"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001",
         L"SYSTEM\\ControlSet001\\Enum\\KestraneFake", HKEY_LOCAL_MACHINE, true},
        {HKEY_LOCAL_MACHINE, printers, L"\\REGISTRY\\MACHINE\\" + kTarget, kTarget + L"\\Leaf", HKEY_LOCAL_MACHINE,
         false},
        {HKEY_LOCAL_MACHINE, L"SYSTEM\\ControlSet001\\Control\\Print\\Printers", L"\\REGISTRY\\MACHINE\\" + kTarget,
         kTarget + L"\\Leaf", HKEY_LOCAL_MACHINE, false},
    };
    ScratchKey scratch("FakeLinks");
    LoadedService service;
    int n = 0;
    for (const Case& c : cases) {
        const std::string context = U8(c.place);
        MakeTarget();
        HKEY target = nullptr;
        ASSERT_EQ(RegCreateKeyExW(c.targetRoot, c.target.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(target, L"Secret", 0, REG_BINARY, reinterpret_cast<const BYTE*>("secret"), 6);
        RegCloseKey(target);
        const std::string before = Snapshot(c.targetRoot, c.target);
        const std::string link = "Link" + std::to_string(n++);
        ASSERT_EQ(CreateRegistryLink(HKEY_LOCAL_MACHINE, scratch.SubKey(link),
                                     (c.targetRoot == HKEY_USERS ? L"\\Registry\\User\\" : L"\\Registry\\Machine\\") +
                                         c.target),
                  ERROR_SUCCESS);
        {
            FakeLinkPlace fake(c.root, c.place, c.value);
            bool warned = false;
            for (const std::string& line : ExpectRefused(service.get(), EveryId(scratch.Path(link)), context))
                warned = warned || line.find(" is not the registry link Windows makes there") != std::string::npos;
            EXPECT_EQ(warned, c.warned) << context;
        }
        EXPECT_EQ(Snapshot(c.targetRoot, c.target), before) << context;
        DeleteTree(c.targetRoot, c.target);
    }
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
        {0, Req::Key(path)},         {4, Req::Value(path, "Secret")}, {8, Req::Key(path)},
        {128, Req::Key(path)},       {2, Req::Key(path + "\\a\\b")}, {16, WriteDword(path)},
        {64, Req::Value(path, "Secret")}, {32, Req::Key(path)},
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
