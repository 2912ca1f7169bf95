#include "access/OpenedKeyCheck.h"

#include "access/ScopedKey.h"
#include "platform/KeyName.h"

#include <vector>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

WCHAR FoldAscii(WCHAR unit) { return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit + ('a' - 'A')) : unit; }

// `text` begins with the component path `prefix` (ASCII case folded): the rest is
// empty or starts at a separator. Sets `rest` to what follows.
bool StartsWithPath(const WideText& text, const WCHAR* prefix, WideText* rest) {
    std::size_t i = 0;
    for (; prefix[i] != 0; ++i)
        if (i >= text.size() || FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    if (i < text.size() && text[i] != '\\') return false;
    *rest = text.substr(i);
    return true;
}

// The control set HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet leads to: the system's
// own link, which listed paths go through.
DWORD CurrentControlSet() {
    DWORD current = 0;
    DWORD size = sizeof current;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, WIDE("SYSTEM\\Select"), WIDE("Current"), RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                     &current, &size) != ERROR_SUCCESS)
        return 0;
    return current;
}

// "\ControlSet001\Enum" -> "\Enum" when 001 is the current set.
bool StripCurrentControlSet(const WideText& rest, WideText* after) {
    const WideText word = WIDE("\\controlset");
    if (rest.size() < word.size() + 3) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (FoldAscii(rest[i]) != word[i]) return false;
    DWORD number = 0;
    std::size_t i = word.size();
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && i < word.size() + 3; ++i)
        number = number * 10 + static_cast<DWORD>(rest[i] - '0');
    if (i != word.size() + 3 || (i < rest.size() && rest[i] != '\\')) return false;
    if (number == 0 || number != CurrentControlSet()) return false;
    *after = rest.substr(i);
    return true;
}

// The key paths, in the lists' terms, that name the key the registry calls `name`.
std::vector<WideText> KeyPathsOf(const WideText& name, HKEY root) {
    std::vector<WideText> paths;
    WideText rest;
    if (!IsPredefinedKey(root)) {
        WideText hive;
        if (QueryKeyName(root, &hive) == ERROR_SUCCESS && StartsWithPath(name, hive.c_str(), &rest))
            paths.push_back(WIDE("HKEY_CURRENT_USER") + rest);
    }
    if (StartsWithPath(name, WIDE("\\REGISTRY\\MACHINE"), &rest)) {
        paths.push_back(WIDE("HKEY_LOCAL_MACHINE") + rest);
        WideText below;
        if (StartsWithPath(rest, WIDE("\\SOFTWARE\\Classes"), &below)) paths.push_back(WIDE("HKEY_CLASSES_ROOT") + below);
        WideText system;
        if (StartsWithPath(rest, WIDE("\\SYSTEM"), &system) && StripCurrentControlSet(system, &below))
            paths.push_back(WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet") + below);
    } else if (StartsWithPath(name, WIDE("\\REGISTRY\\USER"), &rest)) {
        paths.push_back(WIDE("HKEY_USERS") + rest);
    }
    return paths;
}

}  // namespace

bool IsOpenedKeyInWhiteList(WhiteListAccessMode mode, HKEY key, HKEY root, std::basic_string<WCHAR>* realName,
                            const WCHAR* clientId) {
    if (QueryKeyName(key, realName) != ERROR_SUCCESS) return false;
    for (const WideText& path : KeyPathsOf(*realName, root))
        if (KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId)) return true;
    return false;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
