#include "service/KestraneService.h"

#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::DeleteRegistryKey(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const DeleteRegistryKeyJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

ServiceStatus KestraneService::DeleteRegistryValue(JsonDocument* request, JsonDocument* response,
                                                 const WCHAR* clientId, AccessPolicy*) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const DeleteRegistryValueJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
