#include "service/KestraneService.h"

#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::ReadRegistryValue(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const ReadRegistryValueJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

ServiceStatus KestraneService::ReadRegistryValues(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const ReadRegistryValuesJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
