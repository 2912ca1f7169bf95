#include "service/KestraneService.h"

#include "access/KestraneServiceHelper.h"
#include "access/ScopedKey.h"
#include "commands/ResultMember.h"
#include "json/RequestRecords.h"
#include "json/UtilHelper.h"
#include "platform/NtKeyCalls.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::DeleteRegistryKey(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "DeleteRegistryKey";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        DeleteRegistryKeyJson record(request, clientId);
        WCHAR* subKey = nullptr;
        bool exempt = false;
        const ServiceStatus resolved = ResolveAllowed(WhiteListAccessMode::Write, record.keyPath, &subKey, KEY_READ,
                                                      accessPolicy, clientId, kOperation, root, &exempt);
        if (resolved != Success) return resolved;
        // Only a key without subkeys goes: the registry refuses the others, and
        // nothing here deletes a tree.
        bool deleted = false;
        if (exempt) {
            deleted = RegDeleteKeyW(root.Get(), subKey) == ERROR_SUCCESS;
        } else {
            // Under the list, not RegDeleteKeyW by path but its two halves: the open
            // (with DELETE, following links as it does), then the check of where the
            // handle leads, then NtDeleteKey on that same handle. A path deleted again
            // after the check could meanwhile lead through a link somewhere else.
            ScopedKey target;
            if (OpenKey(root.Get(), subKey, DELETE, target) == ERROR_SUCCESS) {
                if (!IsWhereAllowed(WhiteListAccessMode::Write, exempt, target.Get(), root.Get(), clientId,
                                    kOperation))
                    return NotWhiteListed;
                deleted = DeleteOpenedKey(target.Get()) == ERROR_SUCCESS;
            }
        }
        if (deleted) {
            AddResult(response, true);
            return Success;
        }
        // Why did it fail? A key that still opens exists and could not be deleted. (Only
        // the answer depends on this open by path; nothing is done through it.)
        const LSTATUS opened = OpenKey(root.Get(), subKey, KEY_READ, key);
        if (opened == ERROR_SUCCESS) return GeneralFailure;
        if (opened == ERROR_FILE_NOT_FOUND) {
            logger->LogInfo(WIDE("DeleteRegistryKey: Key not found"));
            AddResult(response, false);
            return Success;
        }
        logger->LogError(WIDE("DeleteRegistryKey: Error opening key."));
        // The Windows error itself, not one of the service's codes.
        return static_cast<ServiceStatus>(opened);
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

ServiceStatus KestraneService::DeleteRegistryValue(JsonDocument* request, JsonDocument* response,
                                                   const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "DeleteRegistryValue";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey readRoot;
    ScopedRootKey writeRoot;
    ScopedKey key;
    try {
        DeleteRegistryValueJson record(request, clientId);
        WCHAR* subKey = nullptr;
        bool exempt = false;
        const ServiceStatus resolved = ResolveAllowed(WhiteListAccessMode::Write, record.keyPath, &subKey, KEY_READ,
                                                      accessPolicy, clientId, kOperation, readRoot, &exempt);
        if (resolved != Success) return resolved;
        const LSTATUS opened = OpenKey(readRoot.Get(), subKey, KEY_READ | KEY_WOW64_64KEY, key);
        if (opened != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegOpenKeyEx"), opened, clientId, kOperation);
            return OpenKeyFailed;
        }
        if (!IsWhereAllowed(WhiteListAccessMode::Write, exempt, key.Get(), readRoot.Get(), clientId, kOperation))
            return NotWhiteListed;
        DWORD type = 0;
        DWORD size = 0;
        const LSTATUS queried = RegQueryValueExW(key.Get(), record.regKeyValueName, nullptr, &type, nullptr, &size);
        if (queried != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegQueryValueEx"), queried, clientId, kOperation);
            return GeneralFailure;
        }
        LSTATUS deleted = ERROR_SUCCESS;
        if (exempt) {
            key.Close();
            // A current-user root opened for reading cannot delete: resolve again for
            // writing. The path now reads as its root name only, so this call's subkey
            // is empty and the first one stays in use.
            WCHAR* rootOnly = nullptr;
            writeRoot.Reset(KestraneServiceHelper::GetRootKey(record.keyPath, &rootOnly, KEY_WRITE, clientId));
            deleted = RegDeleteKeyValueW(writeRoot.Get(), subKey, record.regKeyValueName);
        } else {
            // Under the list, not RegDeleteKeyValueW by path from a second root: the
            // path could lead elsewhere by now. The value goes from the key just
            // checked, through a second handle to it with the right to change values
            // (RegOpenKeyExW with an empty subkey); a refused handle answers as a
            // refused delete would.
            ScopedKey writable;
            deleted = OpenKey(key.Get(), WIDE(""), KEY_SET_VALUE, writable);
            if (deleted == ERROR_SUCCESS) deleted = RegDeleteValueW(writable.Get(), record.regKeyValueName);
        }
        // A value that went away since the check is as good as deleted.
        const bool gone = deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
        AddResult(response, gone);
        return gone ? Success : DeleteValueFailed;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
