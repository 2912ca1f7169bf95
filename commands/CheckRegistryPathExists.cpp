#include "service/KestraneService.h"

#include "json/RequestRecords.h"
#include "json/UtilHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::CheckRegistryPathExists(JsonDocument* request, JsonDocument* response,
                                                      const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{request, "request"}, {response, "response"}}, clientId)) return GeneralFailure;
    try {
        const CheckRegistryPathJson record(request, clientId);
        (void)record;
    } catch (int code) {
        return static_cast<ServiceStatus>(code);
    }
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
