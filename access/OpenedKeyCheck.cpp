#include "access/OpenedKeyCheck.h"

#include "access/ScopedKey.h"
#include "logging/Logging.h"
#include "platform/NtKeyCalls.h"
#include "service/TypeName.h"

#include <vector>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

// The bytes of a system link's target read: the longest Windows makes there,
// \REGISTRY\USER\<SID>_Classes, is far shorter. A longer value is no Windows link.
constexpr DWORD kMaxLinkTargetBytes = 1024;

// What Windows itself makes a system link lead to.
enum class LinkTarget {
    ControlSet,   // \REGISTRY\MACHINE\SYSTEM\ControlSetNNN
    DefaultUser,  // \REGISTRY\USER\.DEFAULT
    UserClasses,  // \REGISTRY\USER\<the same user's SID>_Classes
};

// Where Windows itself puts registry links that listed keys lie behind, and where
// each leads. HKEY_CURRENT_USER here is the host's own: its Software\Classes is the
// per-user half of HKEY_CLASSES_ROOT. Windows' Printers link is not here: it leads from
// SYSTEM\ControlSet001\Control\Print\Printers to the listed SOFTWARE\Microsoft\Windows
// NT\CurrentVersion\Print\Printers, so a key reached through it has a listed name of its own.
struct SystemLink {
    HKEY root;
    const WCHAR* subKey;
    const WCHAR* place;    // the link's own key path, for the log
    const WCHAR* keyPath;  // what the link's target is called in the lists' terms
    const WCHAR* targetParent;
    LinkTarget target;
};
const SystemLink kSystemLinks[] = {
    {HKEY_LOCAL_MACHINE, WIDE("SYSTEM\\CurrentControlSet"), WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"),
     WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"), WIDE("\\REGISTRY\\MACHINE\\SYSTEM"), LinkTarget::ControlSet},
    {HKEY_USERS, WIDE("S-1-5-18"), WIDE("HKEY_USERS\\S-1-5-18"), WIDE("HKEY_USERS\\S-1-5-18"), WIDE("\\REGISTRY\\USER"),
     LinkTarget::DefaultUser},
    {HKEY_CURRENT_USER, WIDE("Software\\Classes"), WIDE("HKEY_CURRENT_USER\\Software\\Classes"),
     WIDE("HKEY_CLASSES_ROOT"), WIDE("\\REGISTRY\\USER"), LinkTarget::UserClasses},
};

WCHAR FoldAscii(WCHAR unit) { return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit + ('a' - 'A')) : unit; }

bool EqualFolded(const WCHAR* a, std::size_t aSize, const WCHAR* b, std::size_t bSize) {
    if (aSize != bSize) return false;
    for (std::size_t i = 0; i < aSize; ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool EqualFolded(const WideText& a, const WideText& b) { return EqualFolded(a.data(), a.size(), b.data(), b.size()); }

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

bool EndsWithFolded(const WCHAR* text, std::size_t size, const WCHAR* suffix) {
    std::size_t length = 0;
    while (suffix[length] != 0) ++length;
    return size > length && EqualFolded(text + size - length, length, suffix, length);
}

// `component` (of `size` units) has the form of the key Windows makes `target` lead to.
bool HasTargetForm(LinkTarget target, const WCHAR* component, std::size_t size) {
    switch (target) {
    case LinkTarget::ControlSet: {
        static const WCHAR kControlSet[] = WIDE("ControlSet");
        constexpr std::size_t kLetters = sizeof kControlSet / sizeof(WCHAR) - 1;
        if (size != kLetters + 3 || !EqualFolded(component, kLetters, kControlSet, kLetters)) return false;
        for (std::size_t i = kLetters; i < size; ++i)
            if (component[i] < '0' || component[i] > '9') return false;
        return true;
    }
    case LinkTarget::DefaultUser: return EqualFolded(component, size, WIDE(".DEFAULT"), 8);
    case LinkTarget::UserClasses: return EndsWithFolded(component, size, WIDE("_Classes"));
    }
    return false;
}

// The key a name lies in or below that has the form of `link`'s target (its full name),
// or false. Costs no registry call.
bool TargetAreaOf(const SystemLink& link, const WideText& name, WideText* area) {
    std::size_t end = 0;
    if (!StartsWithPath(name, 0, link.targetParent, &end) || end == name.size()) return false;
    const std::size_t first = end + 1;
    std::size_t last = first;
    while (last < name.size() && name[last] != '\\') ++last;
    if (!HasTargetForm(link.target, name.data() + first, last - first)) return false;
    area->assign(name, 0, last);
    return true;
}

// What a system link's place holds, read from the machine.
enum class LinkCheck {
    LeadsThere,  // a real link to the very key asked about
    Elsewhere,   // a real link of Windows' form to another key (another control set or user)
    NotWindows,  // not a link, or one to a place Windows never points it
};

// The key at `link`'s place really is a link to `area`: opened as itself it holds a
// REG_LINK "SymbolicLinkValue" naming `area`, and opened normally the registry names
// `area` too. A plain key may hold such a value; only the second open tells them apart.
// Six registry calls (two opens, the value, the name, two closes); seven for the user's
// classes, whose target must carry the SID of the hive the link is in.
LinkCheck CheckSystemLink(const SystemLink& link, const WideText& area) {
    ScopedKey itself;
    if (RegOpenKeyExW(link.root, link.subKey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      itself.Address()) != ERROR_SUCCESS)
        return LinkCheck::NotWindows;
    WCHAR units[kMaxLinkTargetBytes / sizeof(WCHAR)];
    DWORD type = 0;
    DWORD size = sizeof units;
    if (RegQueryValueExW(itself.Get(), WIDE("SymbolicLinkValue"), nullptr, &type, reinterpret_cast<BYTE*>(units),
                         &size) != ERROR_SUCCESS ||
        type != REG_LINK)
        return LinkCheck::NotWindows;
    WideText target(units, size / sizeof(WCHAR));
    while (!target.empty() && target.back() == 0) target.pop_back();
    WideText form;
    if (!TargetAreaOf(link, target, &form) || form.size() != target.size()) return LinkCheck::NotWindows;
    if (link.target == LinkTarget::UserClasses) {
        // \REGISTRY\USER\<SID>\Software\Classes leads to \REGISTRY\USER\<SID>_Classes.
        WideText own;
        std::size_t hiveEnd = 0;
        if (QueryKeyName(itself.Get(), &own) != ERROR_SUCCESS || !StartsWithPath(own, 0, link.targetParent, &hiveEnd))
            return LinkCheck::NotWindows;
        const std::size_t sid = hiveEnd + 1;
        const std::size_t sidEnd = own.find('\\', sid);
        if (sidEnd == WideText::npos ||
            !EqualFolded(own.data() + sid, sidEnd - sid, target.data() + sid, target.size() - sid - 8))
            return LinkCheck::NotWindows;
    }
    itself.Close();
    ScopedKey through;
    WideText reached;
    if (RegOpenKeyExW(link.root, link.subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, through.Address()) !=
            ERROR_SUCCESS ||
        QueryKeyName(through.Get(), &reached) != ERROR_SUCCESS || !EqualFolded(reached, target))
        return LinkCheck::NotWindows;
    return EqualFolded(target, area) ? LinkCheck::LeadsThere : LinkCheck::Elsewhere;
}

// Asks `accept` about each key path, in the lists' terms, that names the key the
// registry calls `name`, until one is accepted. The direct spellings come first and
// cost nothing. Only a name that lies where a system link leads (a control set, the
// default user, a user's classes) costs the check of that one link, which then adds
// the same path below the link; a place that is not what Windows makes adds nothing
// and is named in a warning.
template <typename Accept>
bool AnyKeyPathOf(const WideText& name, HKEY root, const WCHAR* clientId, Accept accept) {
    WideText hive;
    if (!IsPredefinedKey(root) && QueryKeyName(root, &hive) != ERROR_SUCCESS) hive.clear();
    std::vector<WideText> paths;
    DirectKeyPaths(name, hive, &paths);
    for (const WideText& path : paths)
        if (accept(path)) return true;
    for (const SystemLink& link : kSystemLinks) {
        WideText area;
        if (!TargetAreaOf(link, name, &area)) continue;
        const LinkCheck check = CheckSystemLink(link, area);
        if (check == LinkCheck::NotWindows) {
            Logging::LogManager::GetLogger()->LogWarning(
                Logging::LoggingData{WIDE("%S.%S - %s is not the registry link Windows makes there: no name is "
                                          "accepted through it"),
                                     clientId, 0},
                TypeName<KestraneServiceWhiteList>(), "IsOpenedKeyInWhiteList", link.place);
        }
        if (check == LinkCheck::LeadsThere && accept(link.keyPath + name.substr(area.size()))) return true;
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
    return AnyKeyPathOf(*realName, root, clientId, [&](const WideText& path) {
        return KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId);
    });
}

bool MayCreateKeyNamed(WhiteListAccessMode mode, const std::basic_string<WCHAR>& name, HKEY root,
                       const std::basic_string<WCHAR>& requestedPath, const WCHAR* clientId) {
    return AnyKeyPathOf(name, root, clientId, [&](const WideText& path) {
        return IsOnTheWayTo(path, requestedPath) ||
               KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId);
    });
}

bool IsSameKeyName(const std::basic_string<WCHAR>& a, const std::basic_string<WCHAR>& b) { return EqualFolded(a, b); }

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
