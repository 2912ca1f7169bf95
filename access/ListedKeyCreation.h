// Creating a key for a list-gated command so that no key ever appears outside the
// lists, whatever links lie on the way or appear meanwhile.
#pragma once

#include "access/KestraneServiceWhiteList.h"
#include "access/ScopedKey.h"

#include <string>

namespace Qv::Corvane::Server::Services::Kestrane {

// How often a create starts over when a key it was about to make appeared meanwhile
// (another caller made it, or a link sits there whose target is missing).
constexpr int kMaxCreateAttempts = 3;

struct ListedCreation {
    LSTATUS result = ERROR_SUCCESS;  // the registry's answer when not refused
    bool refused = false;            // the key is, or would be made, outside the lists
    std::basic_string<WCHAR> name;   // the registry's name for the refused key
};

// Opens root\subKey with `access` when it exists and really is in the list of `mode`.
// Otherwise walks to the deepest existing key on the way and makes each missing key
// below it on its own, relative to the handle of its parent and without following a
// link in its place (REG_OPTION_OPEN_LINK), after checking the name the new key will
// have: listed, or on the way to `requestedPath` (the whole key path as asked). So a
// planted link never gets a key made at its target, existing or not, at any depth.
ListedCreation CreateListedKey(WhiteListAccessMode mode, HKEY root, const WCHAR* subKey,
                               const std::basic_string<WCHAR>& requestedPath, REGSAM access, ScopedKey& key,
                               const WCHAR* clientId);

}  // namespace Qv::Corvane::Server::Services::Kestrane
