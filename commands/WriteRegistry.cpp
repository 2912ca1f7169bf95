#include "service/KestraneService.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::WriteRegistryKey(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

ServiceStatus KestraneService::WriteRegistryValue(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
