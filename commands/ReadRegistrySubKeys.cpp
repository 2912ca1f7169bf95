#include "service/KestraneService.h"

#include "access/ScopedKey.h"
#include "commands/ResultMember.h"
#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

#include <memory>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// The longest value name the registry allows; key names are far shorter.
constexpr DWORD kNameBufferUnits = 16383;

}  // namespace

ServiceStatus KestraneService::ReadRegistrySubKeys(JsonDocument* request, JsonDocument* response,
                                                   const WCHAR* clientId, AccessPolicy* accessPolicy) {
    static const char* const kOperation = "ReadRegistrySubKeys";
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    ScopedRootKey root;
    ScopedKey key;
    try {
        ReadRegistryValuesJson record(request, clientId);
        const ServiceStatus opened = OpenForReading(record.keyPath, accessPolicy, clientId, kOperation, root, key);
        if (opened != Success) return opened;
        RegistryKeyInfo info;
        if (!GetRegistryKeyInfo(key.Get(), &info, clientId)) return GeneralFailure;
        return EnumerateRegSubKeys(response, &info, key.Address(), clientId);
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
}

ServiceStatus KestraneService::EnumerateRegSubKeys(JsonDocument* response, RegistryKeyInfo* info, HKEY* key,
                                                   const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{response, "response"}, {key, "key"}, {info, "info"}}, clientId))
        return GeneralFailure;
    JsonValue resultObj(rapidjson::kObjectType);
    // Each call writes a terminated name, so the buffer needs no zeroing first: 32 KiB
    // of it would cost more than the rest of a small listing.
    const std::unique_ptr<WCHAR[]> name(new WCHAR[kNameBufferUnits]);
    for (int32_t index = 0; index < static_cast<int32_t>(info->subKeyCount); ++index) {
        DWORD nameLength = kNameBufferUnits;
        FILETIME lastWrite;  // received, not reported
        const LSTATUS result = RegEnumKeyExW(*key, static_cast<DWORD>(index), name.get(), &nameLength, nullptr,
                                             nullptr, nullptr, &lastWrite);
        if (result != ERROR_SUCCESS) {
            WarnFailedCall(WIDE("RegEnumKeyEx"), result, clientId, "EnumerateRegSubKeys");
            continue;
        }
        GetRegKeyName(response, &resultObj, name.get(), clientId);
    }
    AddResult(response, resultObj);
    return Success;
}

bool KestraneService::GetRegKeyName(JsonDocument* response, JsonValue* resultObj, const WCHAR* keyName,
                                    const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{response, "response"}, {resultObj, "resultObj"}, {keyName, "keyName"}}, clientId))
        return false;
    if (!resultObj->IsObject()) {
        LogWarning(clientId, "GetRegKeyName", WIDE("%S.%S - %s is invalid type expected %d result %d"),
                   WIDE("resultObj"), static_cast<int>(rapidjson::kObjectType),
                   static_cast<int>(resultObj->GetType()));
        return false;
    }
    JsonAllocator& allocator = response->GetAllocator();
    JsonValue name(keyName, static_cast<rapidjson::SizeType>(WideLength(keyName, kNameBufferUnits)), allocator);
    resultObj->AddMember(name, JsonValue(rapidjson::kObjectType), allocator);
    return true;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
