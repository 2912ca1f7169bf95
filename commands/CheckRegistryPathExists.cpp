#include "service/KestraneService.h"

namespace Qv::Corvane::Server::Services::Kestrane {

ServiceStatus KestraneService::CheckRegistryPathExists(JsonDocument*, JsonDocument*, const WCHAR*) {
    return GeneralFailure;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
