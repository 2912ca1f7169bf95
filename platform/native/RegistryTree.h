// The in-memory registry: a tree of keys holding typed values, the open-key handle
// table, the predefined roots and the access denials tests set up. Internal to the
// emulation; callers hold StateMutex.
#pragma once

#include "platform/native/EmuCore.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace KestraneEmu::Detail {

// Wine's server limits, in UTF-16 units: a key name component and a value name.
constexpr std::size_t kMaxKeyNameLength = 256;
constexpr std::size_t kMaxValueNameLength = 16383;

struct RegValue {
    std::u16string name;  // as first written: names keep their case
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string name;
    RegKey* parent = nullptr;  // null for the tree's root and for deleted keys
    bool deleted = false;
    // A registry link: the value "SymbolicLinkValue" (REG_LINK) names its target,
    // \Registry\..., and opening it leads there unless the open asks for the link itself.
    bool link = false;
    // Keyed by FoldCase(name), so iteration is Wine's enumeration order.
    std::map<std::u16string, std::shared_ptr<RegKey>> subkeys;
    std::map<std::u16string, RegValue> values;
};

// An open key as a call sees it: the key and the rights its handle was given.
struct OpenKey {
    std::shared_ptr<RegKey> key;
    REGSAM access = 0;
    bool predefined = false;
};

bool IsPredefinedRoot(HKEY key);

// Resolves a handle (predefined root or one from the table) and checks that it was
// opened with `needed` and that its key still exists: 6, 5 and 1018 as Wine gives them.
LSTATUS ResolveLocked(HKEY handle, REGSAM needed, OpenKey* out);

// Splits a subkey path into its components: a leading backslash is 161, runs of
// backslashes count as one. Component lengths are checked by the caller.
LSTATUS SplitPathLocked(const WCHAR* path, std::vector<std::u16string>* components);

// Walks existing keys: 2 when one is missing, 87 for a component over Wine's limit.
// Links on the way are followed, the last one too unless `openLink`.
LSTATUS WalkLocked(const std::shared_ptr<RegKey>& from, const std::vector<std::u16string>& components,
                   std::shared_ptr<RegKey>* found, bool openLink = false);

// Where a key leads: itself, or for a link the key its target names (null when that
// is missing, the target is malformed, or links chain deeper than Wine's limit of 16).
std::shared_ptr<RegKey> FollowLinkLocked(const std::shared_ptr<RegKey>& key, int depth = 0);

// Denials set by DenyAccess, matched on the key's full path.
bool IsDeniedLocked(const RegKey& key, REGSAM requested);
bool IsDeleteDeniedLocked(const RegKey& key);
bool IsDeniedPathLocked(const std::u16string& foldedPath, REGSAM requested);
std::u16string FoldedPathLocked(const RegKey& key);

// Rights a mask really grants: generic rights mapped, MAXIMUM_ALLOWED as all.
REGSAM GrantedAccess(REGSAM requested);

HKEY AddHandleLocked(const std::shared_ptr<RegKey>& key, REGSAM access);
bool CloseHandleLocked(HKEY handle);
void RecordOpenLocked(REGSAM access);

std::shared_ptr<RegKey> CreateChildLocked(RegKey& parent, const std::u16string& name);
void DetachLocked(RegKey& key);

}  // namespace KestraneEmu::Detail
