#include "access/OpenedKeyCheck.h"

#include "access/ScopedKey.h"
#include "platform/KeyName.h"

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

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

// "\ControlSet001\Enum" at `from` -> the offset of "\Enum" when 001 is the current set.
bool SkipCurrentControlSet(const WideText& text, std::size_t from, std::size_t* end) {
    static const WCHAR word[] = WIDE("\\controlset");
    constexpr std::size_t wordLength = sizeof word / sizeof word[0] - 1;
    if (text.size() < from + wordLength + 3) return false;
    for (std::size_t i = 0; i < wordLength; ++i)
        if (FoldAscii(text[from + i]) != word[i]) return false;
    DWORD number = 0;
    std::size_t i = from + wordLength;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < from + wordLength + 3; ++i)
        number = number * 10 + static_cast<DWORD>(text[i] - '0');
    if (i != from + wordLength + 3 || (i < text.size() && text[i] != '\\')) return false;
    if (number == 0 || number != CurrentControlSet()) return false;
    *end = i;
    return true;
}

// Asks `listed` about each key path, in the lists' terms, that names the key the
// registry calls `name`, until one is listed. The paths share one buffer: most keys
// have one name, and the first answer is usually the last.
template <typename Listed>
bool AnyKeyPathOf(const WideText& name, HKEY root, Listed listed) {
    WideText path;
    const auto ask = [&](const WCHAR* rootName, std::size_t restFrom) {
        path.assign(rootName);
        path.append(name, restFrom, WideText::npos);
        return listed(path);
    };
    std::size_t end = 0;
    if (!IsPredefinedKey(root)) {
        WideText hive;
        if (QueryKeyName(root, &hive) == ERROR_SUCCESS && StartsWithPath(name, 0, hive.c_str(), &end) &&
            ask(WIDE("HKEY_CURRENT_USER"), end))
            return true;
    }
    if (StartsWithPath(name, 0, WIDE("\\REGISTRY\\MACHINE"), &end)) {
        const std::size_t machine = end;
        if (ask(WIDE("HKEY_LOCAL_MACHINE"), machine)) return true;
        if (StartsWithPath(name, machine, WIDE("\\SOFTWARE\\Classes"), &end) && ask(WIDE("HKEY_CLASSES_ROOT"), end))
            return true;
        std::size_t system = 0;
        return StartsWithPath(name, machine, WIDE("\\SYSTEM"), &system) && SkipCurrentControlSet(name, system, &end) &&
               ask(WIDE("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"), end);
    }
    return StartsWithPath(name, 0, WIDE("\\REGISTRY\\USER"), &end) && ask(WIDE("HKEY_USERS"), end);
}

}  // namespace

bool IsOpenedKeyInWhiteList(WhiteListAccessMode mode, HKEY key, HKEY root, std::basic_string<WCHAR>* realName,
                            const WCHAR* clientId) {
    if (QueryKeyName(key, realName) != ERROR_SUCCESS) return false;
    return AnyKeyPathOf(*realName, root, [&](const WideText& path) {
        return KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), clientId);
    });
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
