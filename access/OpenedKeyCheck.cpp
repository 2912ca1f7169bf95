#include "access/OpenedKeyCheck.h"

#include "access/ScopedKey.h"
#include "platform/NtKeyCalls.h"

#include <vector>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

// Bounds on the work one name costs: the key paths tried for it (each system link can
// add a spelling), and the bytes of a link's target read.
constexpr std::size_t kMaxKeyPathsPerName = 16;
constexpr DWORD kMaxLinkTargetBytes = 1024;

// Where Windows itself puts registry links that listed keys lie behind. Their targets
// are read from the machine on use, never assumed. HKEY_CURRENT_USER here is the
// host's own: its Software\Classes is the per-user half of HKEY_CLASSES_ROOT.
struct SystemLink {
    HKEY root;
    const WCHAR* subKey;
    const WCHAR* keyPath;  // the link's own key path, in the lists' terms
};
const SystemLink kSystemLinks[] = {
    {HKEY_LOCAL_MACHINE, WIDE("SYSTEM\\CurrentControlSet"), WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet")},
    {HKEY_LOCAL_MACHINE, WIDE("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers"),
     WIDE("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers")},
    {HKEY_USERS, WIDE("S-1-5-18"), WIDE("HKEY_USERS\\S-1-5-18")},
    {HKEY_CURRENT_USER, WIDE("Software\\Classes"), WIDE("HKEY_CLASSES_ROOT")},
};

WCHAR FoldAscii(WCHAR unit) { return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit + ('a' - 'A')) : unit; }

// The component path `prefix` (ASCII case folded) begins `text` at `from`: what follows
// is empty or starts at a separator. Sets `end` to where it ends in `text`.
bool StartsWithPath(const WideText& text, std::size_t from, const WCHAR* prefix, std::size_t* end) {
    std::size_t i = from;
    for (std::size_t p = 0; prefix[p] != 0; ++p, ++i)
        if (i >= text.size() || FoldAscii(text[i]) != FoldAscii(prefix[p])) return false;
    if (i < text.size() && text[i] != '\\') return false;
    *end = i;
    return true;
}

// The key paths a full registry name has without any link: below the machine, the
// users, the caller's hive (`hive`, empty when the root is predefined).
void DirectKeyPaths(const WideText& name, const WideText& hive, std::vector<WideText>* paths) {
    std::size_t end = 0;
    if (!hive.empty() && StartsWithPath(name, 0, hive.c_str(), &end))
        paths->push_back(WIDE("HKEY_CURRENT_USER") + name.substr(end));
    if (StartsWithPath(name, 0, WIDE("\\REGISTRY\\MACHINE"), &end)) {
        paths->push_back(WIDE("HKEY_LOCAL_MACHINE") + name.substr(end));
        std::size_t classes = 0;
        if (StartsWithPath(name, end, WIDE("\\SOFTWARE\\Classes"), &classes))
            paths->push_back(WIDE("HKEY_CLASSES_ROOT") + name.substr(classes));
    } else if (StartsWithPath(name, 0, WIDE("\\REGISTRY\\USER"), &end)) {
        paths->push_back(WIDE("HKEY_USERS") + name.substr(end));
    }
}

// The target a system link names, \Registry\..., or false when there is no such link.
bool ReadLinkTarget(const SystemLink& link, WideText* target) {
    ScopedKey key;
    if (RegOpenKeyExW(link.root, link.subKey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      key.Address()) != ERROR_SUCCESS)
        return false;
    WCHAR units[kMaxLinkTargetBytes / sizeof(WCHAR)];
    DWORD type = 0;
    DWORD size = sizeof units;
    if (RegQueryValueExW(key.Get(), WIDE("SymbolicLinkValue"), nullptr, &type, reinterpret_cast<BYTE*>(units),
                         &size) != ERROR_SUCCESS ||
        type != REG_LINK)
        return false;
    target->assign(units, size / sizeof(WCHAR));
    while (!target->empty() && target->back() == 0) target->pop_back();
    return !target->empty();
}

// Asks `accept` about each key path, in the lists' terms, that names the key the
// registry calls `name`, until one is accepted. The direct spellings come first and
// cost nothing; only then are the system links read, one by one, each adding the
// spellings through it (and through those before it: a link's target may itself lie
// behind another link).
template <typename Accept>
bool AnyKeyPathOf(const WideText& name, HKEY root, Accept accept) {
    WideText hive;
    if (!IsPredefinedKey(root) && QueryKeyName(root, &hive) != ERROR_SUCCESS) hive.clear();
    std::vector<WideText> paths;
    DirectKeyPaths(name, hive, &paths);
    for (const WideText& path : paths)
        if (accept(path)) return true;
    struct Rewrite {
        WideText from;  // the target's key path
        const WCHAR* to;  // the link's
    };
    std::vector<Rewrite> rewrites;
    for (const SystemLink& link : kSystemLinks) {
        WideText target;
        if (!ReadLinkTarget(link, &target)) continue;
        std::vector<WideText> targetPaths;
        DirectKeyPaths(target, WideText(), &targetPaths);
        for (WideText& from : targetPaths) rewrites.push_back({std::move(from), link.keyPath});
        for (std::size_t i = 0; i < paths.size(); ++i) {
            for (const Rewrite& rewrite : rewrites) {
                std::size_t end = 0;
                if (paths.size() >= kMaxKeyPathsPerName || !StartsWithPath(paths[i], 0, rewrite.from.c_str(), &end))
                    continue;
                WideText spelled = rewrite.to + paths[i].substr(end);
                bool known = false;
                for (const WideText& path : paths) known = known || path == spelled;
                if (known) continue;
                paths.push_back(std::move(spelled));
                if (accept(paths.back())) return true;
            }
        }
    }
    return false;
}

// `path` names `requested` or a key on the way to it: its components begin those of
// `requested` (ASCII case folded; runs of separators count as one, as for the registry).
bool IsOnTheWayTo(const WideText& path, const WideText& requested) {
    std::size_t i = 0;
    std::size_t j = 0;
    for (;;) {
        while (i < path.size() && path[i] == '\\') ++i;
        while (j < requested.size() && requested[j] == '\\') ++j;
        if (i == path.size()) return true;
        if (j == requested.size()) return false;
        while (i < path.size() && path[i] != '\\' && j < requested.size() && requested[j] != '\\') {
            if (FoldAscii(path[i]) != FoldAscii(requested[j])) return false;
            ++i;
            ++j;
        }
        const bool pathEnded = i == path.size() || path[i] == '\\';
        const bool requestedEnded = j == requested.size() || requested[j] == '\\';
        if (!pathEnded || !requestedEnded) return false;
    }
}

}  // namespace

bool IsOpenedKeyInWhiteList(WhiteListAccessMode mode, HKEY key, HKEY root, std::basic_string<WCHAR>* realName,
                            const WCHAR* clientId) {
    if (QueryKeyName(key, realName) != ERROR_SUCCESS) return false;
    return AnyKeyPathOf(*realName, root, [&](const WideText& path) {
        return KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId);
    });
}

bool MayCreateKeyNamed(WhiteListAccessMode mode, const std::basic_string<WCHAR>& name, HKEY root,
                       const std::basic_string<WCHAR>& requestedPath, const WCHAR* clientId) {
    return AnyKeyPathOf(name, root, [&](const WideText& path) {
        return IsOnTheWayTo(path, requestedPath) ||
               KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId);
    });
}

bool RootKeyName(HKEY root, std::basic_string<WCHAR>* name) {
    if (root == HKEY_LOCAL_MACHINE) {
        name->assign(WIDE("\\REGISTRY\\MACHINE"));
        return true;
    }
    if (root == HKEY_USERS) {
        name->assign(WIDE("\\REGISTRY\\USER"));
        return true;
    }
    return !IsPredefinedKey(root) && QueryKeyName(root, name) == ERROR_SUCCESS;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
