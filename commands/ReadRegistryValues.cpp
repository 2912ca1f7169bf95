#include "service/KestraneService.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::ReadRegistryValue(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

ServiceStatus KestraneService::ReadRegistryValues(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
