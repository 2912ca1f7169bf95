#include "service/KestraneService.h"

#include "access/KestraneServiceHelper.h"
#include "access/ListedKeyCreation.h"
#include "access/OpenedKeyCheck.h"
#include "access/ScopedKey.h"

namespace Qv::Corvane::Server::Services::Kestrane {

bool KestraneService::IsAllowed(WhiteListAccessMode mode, const WCHAR* keyPath, AccessPolicy* accessPolicy,
                                const WCHAR* clientId, const char* operation, bool* exempt) const {
    *exempt = IsExemptBy(accessPolicy);
    if (*exempt) return true;
    if (KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, keyPath, clientId)) return true;
    // A refusal reads like a missing root on purpose: a client learns nothing about
    // which keys exist outside the lists.
    WarnNoRootKey(keyPath, clientId, operation);
    return false;
}

ServiceStatus KestraneService::ResolveAllowed(WhiteListAccessMode mode, WCHAR* keyPath, WCHAR** subKey,
                                             REGSAM rootAccess, AccessPolicy* accessPolicy, const WCHAR* clientId,
                                             const char* operation, ScopedRootKey& root, bool* exempt) const {
    if (!IsAllowed(mode, keyPath, accessPolicy, clientId, operation, exempt)) return NotWhiteListed;
    root.Reset(KestraneServiceHelper::GetRootKey(keyPath, subKey, rootAccess, clientId));
    if (!root) {
        // By now the split has cut the path at its first separator: the warning shows the root name.
        WarnNoRootKey(keyPath, clientId, operation);
        return RootKeyNotFound;
    }
    return Success;
}

ServiceStatus KestraneService::OpenForReading(WCHAR* keyPath, AccessPolicy* accessPolicy, const WCHAR* clientId,
                                             const char* operation, ScopedRootKey& root, ScopedKey& key) const {
    WCHAR* subKey = nullptr;
    bool exempt = false;
    const ServiceStatus resolved = ResolveAllowed(WhiteListAccessMode::Read, keyPath, &subKey, KEY_READ,
                                                  accessPolicy, clientId, operation, root, &exempt);
    if (resolved != Success) return resolved;
    const LSTATUS opened = OpenKey(root.Get(), subKey, KEY_READ | KEY_WOW64_64KEY, key);
    if (opened != ERROR_SUCCESS) {
        WarnFailedCall(WIDE("RegOpenKeyEx"), opened, clientId, operation);
        return OpenKeyFailed;
    }
    if (!IsWhereAllowed(WhiteListAccessMode::Read, exempt, key.Get(), root.Get(), clientId, operation)) {
        key.Close();
        return NotWhiteListed;
    }
    return Success;
}

bool KestraneService::IsWhereAllowed(WhiteListAccessMode mode, bool exempt, HKEY key, HKEY root,
                                     const WCHAR* clientId, const char* operation) const {
    if (exempt) return true;
    std::basic_string<WCHAR> realName;
    if (IsOpenedKeyInWhiteList(mode, key, root, &realName, clientId)) return true;
    LogWarning(clientId, operation, WIDE("%S.%S - key %s is outside the whitelist: refused"), realName.c_str());
    return false;
}

LSTATUS KestraneService::CreateForWriting(bool exempt, HKEY root, const WCHAR* keyPath, const WCHAR* subKey,
                                          REGSAM access, ScopedKey& key, const WCHAR* clientId,
                                          const char* operation, bool* refused) const {
    *refused = false;
    if (exempt) return CreateKey(root, subKey, access, key);
    // Not the one RegCreateKeyExW of root and subkey that an exempt call makes: that
    // call follows every link on the way and makes the missing keys at a link's target
    // before anything could look where they went.
    // The split left the root name in keyPath; the subkey follows its separator.
    const std::basic_string<WCHAR> requested = std::basic_string<WCHAR>(keyPath) + WIDE("\\") + subKey;
    const ListedCreation created =
        CreateListedKey(WhiteListAccessMode::Write, root, subKey, requested, access, key, clientId);
    if (created.refused) {
        *refused = true;
        LogWarning(clientId, operation, WIDE("%S.%S - key %s is outside the whitelist: refused"), created.name.c_str());
    }
    return created.result;
}

void KestraneService::WarnNoRootKey(const WCHAR* keyPath, const WCHAR* clientId, const char* operation) const {
    LogWarning(clientId, operation, WIDE("%S.%S - unable to get root key from keyPath: %s"), keyPath);
}

void KestraneService::WarnFailedCall(const WCHAR* function, long result, const WCHAR* clientId,
                                     const char* operation) const {
    LogWarning(clientId, operation, WIDE("%S.%S failed on function %s with result %d"), function, result);
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
