#include "service/KestraneService.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::ReadRegistrySubKeys(JsonDocument*, JsonDocument*, const WCHAR*, AccessPolicy*) {
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
