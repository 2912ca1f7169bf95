#include "service/KestraneService.h"

#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::WriteRegistryKey(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const WriteRegistryKeyJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

ServiceStatus KestraneService::WriteRegistryValue(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const WriteRegistryValueJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
