// The sessions the host has open: one ClientContext each. A session ends by the
// client's CloseSession, by the RPC runtime's rundown when the client is gone, or at
// shutdown; whichever comes first releases the context, the others find it gone.
#pragma once

#include "service/QVService.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>

namespace Kestrane::Host {

struct Session {
    Qv::Corvane::Server::Services::ClientContext* context = nullptr;
    std::wstring clientId;          // for the host's own log lines, as the client claimed it
    unsigned long processId = 0;    // the client's process, as the RPC runtime gave it
};

class SessionTable {
public:
    explicit SessionTable(Qv::Corvane::Server::Services::QVService* service) : service_(service) {}
    ~SessionTable() { ReleaseAll(); }
    SessionTable(const SessionTable&) = delete;
    SessionTable& operator=(const SessionTable&) = delete;

    // Null when the module made no context.
    Session* Open(const wchar_t* clientId);
    // False when the session had already ended (the pointer is then not touched).
    bool Close(void* session);
    // Whether the pointer names a live session; only for calls that hold it open
    // through the RPC runtime, which runs no rundown while a call uses the handle.
    bool Contains(void* session) const;
    std::size_t Count() const;
    std::size_t ReleaseAll();

private:
    Qv::Corvane::Server::Services::QVService* service_;
    mutable std::mutex mutex_;
    std::unordered_set<void*> sessions_;
};

}  // namespace Kestrane::Host
