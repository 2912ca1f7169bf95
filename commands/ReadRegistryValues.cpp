#include "service/KestraneService.h"

#include "access/ScopedKey.h"
#include "commands/ResultMember.h"
#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::ReadRegistryValue(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "ReadRegistryValue";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        ReadRegistryValueJson record(request, clientId);
        const ServiceStatus opened = OpenForReading(record.keyPath, accessPolicy, clientId, kOperation, root, key);
        if (opened != Success) return opened;
        DWORD type = 0;
        DWORD size = 0;
        const LSTATUS queried = RegQueryValueExW(key.Get(), record.regKeyValueName, nullptr, &type, nullptr, &size);
        if (queried != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegQueryValueEx"), queried, clientId, kOperation);
            return GeneralFailure;
        }
        JsonValue resultObj(rapidjson::kObjectType);
        if (!GetRegKeyValue(response, &resultObj, key.Address(), size, record.regKeyValueName,
                            static_cast<int32_t>(type), clientId, record.expandString))
            return GeneralFailure;
        AddResult(response, resultObj);
        return Success;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

ServiceStatus KestraneService::ReadRegistryValues(JsonDocument* request, JsonDocument* response,
                                                  const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "ReadRegistryValues";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        ReadRegistryValuesJson record(request, clientId);
        const ServiceStatus opened = OpenForReading(record.keyPath, accessPolicy, clientId, kOperation, root, key);
        if (opened != Success) return opened;
        RegistryKeyInfo info;
        if (!GetRegistryKeyInfo(key.Get(), &info, clientId)) return GeneralFailure;
        return EnumerateRegKeyValues(response, &info, key.Address(), clientId, record.expandString);
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

bool KestraneService::GetRegistryKeyInfo(HKEY key, RegistryKeyInfo* info, const WCHAR* clientId) {
    static const char* const kOperation = "GetRegistryKeyInfo";
    if (UtilHelper::NullChecker({{key, "key"}, {info, "info"}}, clientId)) return false;
    if (reinterpret_cast<HANDLE>(key) == INVALID_HANDLE_VALUE) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - %S cannot be null"), "key");
        return false;
    }
    const LSTATUS result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &info->subKeyCount,
                                            &info->maxSubKeyLength, nullptr, &info->valueCount,
                                            &info->maxValueNameLength, &info->maxValueDataLength, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        WarnFailedCall(WIDE("RegQueryInfoKey"), result, clientId, kOperation);
        return false;
    }
    return true;
}

ServiceStatus KestraneService::EnumerateRegKeyValues(JsonDocument* response, RegistryKeyInfo* info, HKEY* key,
                                                     const WCHAR* clientId, bool expandString) {
    if (UtilHelper::NullChecker({{response, "response"}, {key, "key"}, {info, "info"}}, clientId))
        return GeneralFailure;
    JsonValue resultObj(rapidjson::kObjectType);
    // One name buffer serves every index: each call writes a terminated name into it.
    std::vector<WCHAR> name(std::size_t{info->maxValueNameLength} + 1);
    // The count taken before the walk bounds it; a value that went away meanwhile
    // fails its index and is left out.
    for (int32_t index = 0; index < static_cast<int32_t>(info->valueCount); ++index) {
        DWORD nameLength = info->maxValueNameLength + 1;
        DWORD dataSize = info->maxValueDataLength + 1;
        DWORD type = 0;
        const LSTATUS result = RegEnumValueW(*key, static_cast<DWORD>(index), name.data(), &nameLength, nullptr,
                                             &type, nullptr, &dataSize);
        if (result != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegEnumValue"), result, clientId, "EnumerateRegKeyValues");
            continue;
        }
        // A value that cannot be read or converted is left out; the others still count.
        GetRegKeyValue(response, &resultObj, key, dataSize, name.data(), static_cast<int32_t>(type), clientId,
                       expandString);
    }
    AddResult(response, resultObj);
    return Success;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
