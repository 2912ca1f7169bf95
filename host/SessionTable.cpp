#include "host/SessionTable.h"

#include <memory>

namespace Kestrane::Host {

Session* SessionTable::Open(const wchar_t* clientId, DWORD processId, long* error) {
    auto session = std::make_unique<Session>();
    const std::wstring id = clientId != nullptr ? clientId : L"";
    session->clientId = id.substr(0, kMaxClientIdUnits);
    session->processId = processId;
    {
        // The place is taken before the module is asked, so racing opens cannot pass a bound.
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t& held = perProcess_[processId];
        if (held >= kMaxSessionsPerProcess || sessions_.size() >= kMaxSessions) {
            if (held == 0) perProcess_.erase(processId);
            *error = ERROR_TOO_MANY_SESS;
            return nullptr;
        }
        ++held;
        sessions_.insert(session.get());
    }
    if (service_->CreateClientContext(session->clientId.c_str(), &session->context) != 0 ||
        session->context == nullptr) {
        Forget(session.get());
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    *error = 0;
    return session.release();
}

bool SessionTable::Forget(Session* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.erase(session) == 0) return false;
    const auto held = perProcess_.find(session->processId);
    if (held != perProcess_.end() && --held->second == 0) perProcess_.erase(held);
    return true;
}

bool SessionTable::Close(void* handle) {
    if (!Forget(static_cast<Session*>(handle))) return false;
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
        perProcess_.clear();
    }
    for (void* handle : sessions) {
        std::unique_ptr<Session> session(static_cast<Session*>(handle));
        service_->ReleaseClientContext(&session->context);
    }
    return sessions.size();
}

}  // namespace Kestrane::Host
