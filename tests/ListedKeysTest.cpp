// Every whitelist entry, as Windows lays the registry out (the links in front of some
// of them included: the emulation has them built in, the test prefix gets them from
// tests/WindowsLinks.cpp): each command its list allows works on the entry's key, and
// the check of where a key really is refuses none of them.
#include "tests/RegistryFixture.h"
#include "access/WhiteListTables.h"

#ifndef _WIN32
#include "platform/native/Emulation.h"
#endif

using namespace KestraneTest;
using Svc::Kestrane::WhiteListTables;

namespace {

struct Root {
    const char* name;
    HKEY key;
};
const Root kRoots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                       {"HKEY_USERS\\", HKEY_USERS},
                       {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
                       {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};

// The entry's key made directly, with a value to read, and undone afterwards: the
// keys it had to make go again, the value goes from a key that was there before.
class EntryKey {
public:
    EntryKey(HKEY root, const std::string& subKey) : root_(root), subKey_(subKey) {
        std::string existing = subKey;
        while (!existing.empty() && !Exists(existing)) {
            made_ = existing;
            const std::size_t cut = existing.rfind('\\');
            existing = cut == std::string::npos ? "" : existing.substr(0, cut);
        }
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, W(subKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS)
            << subKey;
        const WString text = W("probe");
        RegSetValueExW(key, W("KestraneProbe").c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
        RegCloseKey(key);
    }
    ~EntryKey() {
        if (!made_.empty()) {
            DeleteTree(root_, W(made_));
        } else {
            RegDeleteKeyValueW(root_, W(subKey_).c_str(), W("KestraneProbe").c_str());
            DeleteTree(root_, W(subKey_ + "\\KestraneChild"));
        }
    }
    EntryKey(const EntryKey&) = delete;
    EntryKey& operator=(const EntryKey&) = delete;

private:
    bool Exists(const std::string& subKey) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, W(subKey).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    HKEY root_;
    std::string subKey_;
    std::string made_;  // the first key that had to be made, empty when the entry existed
};

}  // namespace

TEST(ListedKeys, EveryEntryAnswersEachCommandItsListAllows) {
#ifndef _WIN32
    KestraneEmu::ResetRegistry();
    KestraneEmu::SetRpcClientPid(GetCurrentProcessId());  // the caller's hive is this process's own
#endif
    LoadedService service;
    int entries = 0;
    for (const bool write : {false, true}) {
        for (const WString& wideEntry : write ? WhiteListTables::Write() : WhiteListTables::Read()) {
            const std::string entry = U8(wideEntry);
            const Root* root = nullptr;
            for (const Root& candidate : kRoots)
                if (entry.rfind(candidate.name, 0) == 0) root = &candidate;
            ASSERT_NE(root, nullptr) << entry;
#ifdef _WIN32
            // Only a real RPC call has a caller, hence a current user: natively only.
            if (root->key == HKEY_CURRENT_USER) continue;
#endif
            ++entries;
            SCOPED_TRACE(entry);
            EntryKey key(root->key, entry.substr(std::string(root->name).size()));
            const std::string child = entry + "\\KestraneChild";
            struct Step {
                int32_t id;
                std::string request;
                std::string text;  // expected answer; empty: "result" present, whatever it holds
            };
            // A write entry no read entry covers (the mixer key) is not to be read.
            const bool readable = Svc::Kestrane::KestraneServiceWhiteList::IsKeyPathInWhiteList(
                Svc::WhiteListAccessMode::Read, wideEntry.c_str(), WIDE("test"));
            const std::string unread = "{}";
            std::vector<Step> steps = {{4, Req::Value(entry, "KestraneProbe"), readable ? "" : unread},
                                       {8, Req::Key(entry), readable ? "" : unread},
                                       {128, Req::Key(entry), readable ? "" : unread}};
            if (write) {
                const Step more[] = {{2, Req::Key(entry), "{\"result\":true}"},
                                     {16, Req::Write(entry, "KestraneProbe", REG_SZ, "\"w\""), "{\"result\":true}"},
                                     {2, Req::Key(child), "{\"result\":true}"},
                                     {16, Req::Write(child, "KestraneProbe", REG_SZ, "\"w\""), "{\"result\":true}"},
                                     {64, Req::Value(child, "KestraneProbe"), "{\"result\":true}"},
                                     {32, Req::Key(child), "{\"result\":true}"}};
                steps.insert(steps.end(), std::begin(more), std::end(more));
            }
            for (const Step& step : steps) {
                const Reply reply = Execute(service.get(), step.id, step.request);
                EXPECT_EQ(reply.status, step.text == unread ? Svc::NotWhiteListed : Svc::Success)
                    << step.id << " " << reply.text;
                if (step.text.empty())
                    EXPECT_EQ(reply.text.rfind("{\"result\":{", 0), 0u) << step.id << " " << reply.text;
                else
                    EXPECT_EQ(reply.text, step.text) << step.id;
            }
        }
    }
#ifdef _WIN32
    EXPECT_EQ(entries, 43);
#else
    EXPECT_EQ(entries, 51);
    KestraneEmu::SetRpcClientPid(0);
#endif
}
