#include "service/KestraneService.h"

#include "service/ClientContext.h"
#include "service/LogCaller.h"
#include "service/TypeName.h"

#include <cstring>

namespace Qv::Corvane::Server::Services::Kestrane {

KestraneService::KestraneService()
    : logger(Logging::LogManager::GetLogger()), className(TypeName<KestraneService>()) {
    // Lines logged while serving a client count against that client's share of the log.
    Logging::SetLogCallerSource(&LogCallerOfThisThread);
}

// An MSVC-built host's `delete service` calls this slot with bit 0 set.
void* KestraneService::DeletingDestructor(unsigned int flags) {
    if (flags & kDeleteStorage) {
        delete this;
    } else {
        this->~KestraneService();
    }
    return this;
}

uint32_t KestraneService::CreateClientContext(const WCHAR* clientId, ClientContext** outContext) {
    if (!outContext) return 0;
    const std::size_t length = clientId ? WideLength(clientId, kMaxClientIdLength) : 0;
    auto* copy = new WCHAR[length + 1];
    if (length) std::memcpy(copy, clientId, length * sizeof(WCHAR));
    copy[length] = 0;
    *outContext = new ClientContext{copy};
    return 0;
}

uint32_t KestraneService::ReleaseClientContext(ClientContext** context) {
    if (!context || !*context) return 0;
    delete[] (*context)->clientId;
    delete *context;
    return 0;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane

extern "C" Qv::Corvane::Server::Services::QVService* QVCreateService() {
    return new Qv::Corvane::Server::Services::Kestrane::KestraneService();
}
