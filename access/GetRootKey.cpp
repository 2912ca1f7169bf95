#include "access/KestraneServiceHelper.h"

#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

struct RootName {
    const WCHAR* name;
    HKEY key;  // null: the caller's own hive
};

// Tried in this order; the first whole, case-sensitive match decides.
const RootName kRootNames[] = {
    {WIDE("HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT},   {WIDE("HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG},
    {WIDE("HKEY_CURRENT_USER"), nullptr},             {WIDE("HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE},
    {WIDE("HKEY_USERS"), HKEY_USERS},
};

bool SameText(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

HKEY KestraneServiceHelper::GetRootKey(WCHAR* keyPath, WCHAR** subKey, REGSAM access, const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{keyPath, "keyPath"}, {subKey, "subKey"}}, clientId)) return nullptr;

    // The split behaves as wcstok_s with the single delimiter backslash: leading
    // backslashes are skipped, the first one after the token becomes NUL, and the
    // context (subKey) is left just behind it, or at the end of the text.
    WCHAR* token = keyPath;
    while (*token == u'\\') ++token;
    if (*token == 0) {
        *subKey = token;
        return nullptr;
    }
    WCHAR* end = token;
    while (*end && *end != u'\\') ++end;
    if (*end) {
        *end = 0;
        *subKey = end + 1;
    } else {
        *subKey = end;
    }

    for (const RootName& root : kRootNames) {
        if (!SameText(token, root.name)) continue;
        return root.key ? root.key : OpenCurrentUserRegKey(access, clientId);
    }
    return nullptr;
}

KestraneServiceHelper& KestraneServiceHelper::operator=(const KestraneServiceHelper&) = default;
KestraneServiceHelper& KestraneServiceHelper::operator=(KestraneServiceHelper&&) = default;

}  // namespace Qv::Corvane::Server::Services::Kestrane
