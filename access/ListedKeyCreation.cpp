#include "access/ListedKeyCreation.h"

#include "access/OpenedKeyCheck.h"
#include "platform/NtKeyCalls.h"

#include <vector>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

using WideText = std::basic_string<WCHAR>;

// The registry's own split: runs of separators count as one.
std::vector<WideText> Components(const WCHAR* subKey) {
    std::vector<WideText> components;
    WideText current;
    for (const WCHAR* p = subKey;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!current.empty()) components.push_back(current);
            current.clear();
            if (*p == 0) return components;
        } else {
            current.push_back(*p);
        }
    }
}

WideText Join(const std::vector<WideText>& components, std::size_t count) {
    WideText path;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) path.push_back('\\');
        path += components[i];
    }
    return path;
}

enum class Step { Done, StartOver };

// Deletes the key just made, by its own handle (the one it was made with may lack DELETE).
void DeleteMadeKey(HKEY made) {
    ScopedKey again;
    if (RegOpenKeyExW(made, WIDE(""), 0, DELETE | KEY_WOW64_64KEY, again.Address()) == ERROR_SUCCESS)
        DeleteOpenedKey(again.Get());
}

}  // namespace

ListedCreation CreateListedKey(WhiteListAccessMode mode, HKEY root, const WCHAR* subKey,
                               const std::basic_string<WCHAR>& requestedPath, REGSAM access, ScopedKey& key,
                               const WCHAR* clientId) {
    ListedCreation outcome;
    const REGSAM onTheWay = KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY;
    const std::vector<WideText> components = Components(subKey);
    for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
        // The usual case: the key is there already; it counts where it really is.
        outcome.result = OpenKey(root, subKey, access, key);
        if (outcome.result == ERROR_SUCCESS) {
            outcome.refused = !IsOpenedKeyInWhiteList(mode, key.Get(), root, &outcome.name, clientId);
            if (outcome.refused) key.Close();
            return outcome;
        }
        if (outcome.result != ERROR_FILE_NOT_FOUND || components.empty()) return outcome;

        // The deepest key on the way that exists (links followed: where it really is
        // is what its name says below).
        ScopedKey parent;
        std::size_t existing = components.size() - 1;
        for (; existing > 0; --existing) {
            outcome.result = OpenKey(root, Join(components, existing).c_str(), onTheWay, parent);
            if (outcome.result == ERROR_SUCCESS) break;
            if (outcome.result != ERROR_FILE_NOT_FOUND) return outcome;
        }
        WideText parentName;
        if (!(existing > 0 ? QueryKeyName(parent.Get(), &parentName) == ERROR_SUCCESS
                           : RootKeyName(root, &parentName))) {
            outcome.refused = true;
            outcome.name = requestedPath;
            return outcome;
        }
        Step step = Step::Done;
        for (std::size_t i = existing; i < components.size() && step == Step::Done; ++i) {
            WideText childName = parentName + WIDE("\\") + components[i];
            if (!MayCreateKeyNamed(mode, childName, root, requestedPath, clientId)) {
                outcome.refused = true;
                outcome.name = std::move(childName);
                return outcome;
            }
            HKEY child = nullptr;
            DWORD disposition = 0;
            outcome.result = RegCreateKeyExW(i == 0 ? root : parent.Get(), components[i].c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                                             i + 1 == components.size() ? access : onTheWay, nullptr, &child,
                                             &disposition);
            if (outcome.result != ERROR_SUCCESS) return outcome;
            parent.Reset(child);
            // REG_OPTION_OPEN_LINK is documented for opens, not creates: where the new
            // key really is, is what its name says. A key made anywhere but the place
            // checked goes again at once.
            WideText madeName;
            if (disposition == REG_CREATED_NEW_KEY &&
                (QueryKeyName(parent.Get(), &madeName) != ERROR_SUCCESS || !IsSameKeyName(madeName, childName))) {
                DeleteMadeKey(parent.Get());
                outcome.refused = true;
                outcome.name = madeName.empty() ? std::move(childName) : std::move(madeName);
                return outcome;
            }
            // Something is there now that was not a moment ago: a key another call
            // made, or a link whose target is missing (opened as itself, not followed).
            // Never build on it: start over, and it counts where it really leads.
            if (disposition != REG_CREATED_NEW_KEY) {
                outcome.name = std::move(childName);
                step = Step::StartOver;
                continue;
            }
            parentName = std::move(childName);
        }
        if (step == Step::Done) {
            key.Reset(parent.Release());
            return outcome;
        }
    }
    outcome.refused = true;  // kept appearing: a link in the way that leads nowhere
    return outcome;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
