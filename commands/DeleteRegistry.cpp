#include "service/KestraneService.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::DeleteRegistryKey(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

ServiceStatus KestraneService::DeleteRegistryValue(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
