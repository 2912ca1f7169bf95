#include "access/KestraneServiceHelper.h"

namespace Qv::Corvane::Server::Services::Kestrane {

HKEY KestraneServiceHelper::OpenCurrentUserRegKey(REGSAM, const WCHAR*) {
    return nullptr;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
