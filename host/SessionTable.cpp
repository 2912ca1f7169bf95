#include "host/SessionTable.h"

#include <memory>

namespace Kestrane::Host {

Session* SessionTable::Open(const wchar_t* clientId) {
    auto session = std::make_unique<Session>();
    session->clientId = clientId != nullptr ? clientId : L"";
    if (service_->CreateClientContext(clientId, &session->context) != 0 || session->context == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.insert(session.get());
    return session.release();
}

bool SessionTable::Close(void* handle) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sessions_.erase(handle) == 0) return false;
    }
    std::unique_ptr<Session> session(static_cast<Session*>(handle));
    service_->ReleaseClientContext(&session->context);
    return true;
}

bool SessionTable::Contains(void* handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.count(handle) != 0;
}

std::size_t SessionTable::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_.size();
}

std::size_t SessionTable::ReleaseAll() {
    std::unordered_set<void*> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions.swap(sessions_);
    }
    for (void* handle : sessions) {
        std::unique_ptr<Session> session(static_cast<Session*>(handle));
        service_->ReleaseClientContext(&session->context);
    }
    return sessions.size();
}

}  // namespace Kestrane::Host
