#include "service/KestraneService.h"

#include "access/ScopedKey.h"
#include "commands/ResultMember.h"
#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::WriteRegistryKey(JsonDocument* request, JsonDocument* response, const WCHAR* clientId,
                                                AccessPolicy* accessPolicy) {
    static const char* const kOperation = "WriteRegistryKey";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        WriteRegistryKeyJson record(request, clientId);
        WCHAR* subKey = nullptr;
        bool exempt = false;
        const ServiceStatus resolved =
            ResolveAllowed(WhiteListAccessMode::Write, record.keyPath, &subKey, KEY_CREATE_SUB_KEY, accessPolicy,
                           clientId, kOperation, root, &exempt);
        if (resolved != Success) return resolved;
        // Missing parents are created too; an existing key is simply opened.
        bool refused = false;
        const LSTATUS created = CreateForWriting(exempt, root.Get(), record.keyPath, subKey,
                                                 KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY, key, clientId, kOperation,
                                                 &refused);
        if (refused) return NotWhiteListed;
        ServiceStatus status = GeneralFailure;
        if (created == ERROR_SUCCESS) {
            LogInfo(clientId, kOperation, WIDE("%S.%S - create reg key at key path: %s"), record.keyPath);
            status = Success;
        } else {
            WarnFailedCall(WIDE("RegCreateKeyEx"), created, clientId, kOperation);
        }
        AddResult(response, created == ERROR_SUCCESS);
        return status;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

ServiceStatus KestraneService::WriteRegistryValue(JsonDocument* request, JsonDocument* response,
                                                  const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "WriteRegistryValue";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        WriteRegistryValueJson record(request, clientId);
        WCHAR* subKey = nullptr;
        bool exempt = false;
        const ServiceStatus resolved = ResolveAllowed(WhiteListAccessMode::Write, record.keyPath, &subKey,
                                                      KEY_ALL_ACCESS, accessPolicy, clientId, kOperation, root, &exempt);
        if (resolved != Success) return resolved;
        bool refused = false;
        const LSTATUS created = CreateForWriting(exempt, root.Get(), record.keyPath, subKey,
                                                 KEY_ALL_ACCESS | KEY_WOW64_64KEY, key, clientId, kOperation, &refused);
        if (refused) return NotWhiteListed;
        if (created != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegOpenKeyEx"), created, clientId, kOperation);
            return OpenKeyFailed;
        }
        // A failed value write leaves the key it created: the key is not undone.
        const ServiceStatus status = WriteValueToRegistry(key.Address(), record.regKeyValueName,
                                                          record.requestedDataType, record.writeDataValue, clientId);
        if (status == Success) AddResult(response, true);
        return status;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
