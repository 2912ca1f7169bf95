// The sessions the host has open: one ClientContext each. A session ends by the
// client's CloseSession, by the RPC runtime's rundown when the client is gone, or at
// shutdown; whichever comes first releases the context, the others find it gone.
#pragma once

#include "logging/Logging.h"
#include "service/QVService.h"

#include <windows.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace Kestrane::Host {

// Sessions one client process may hold at once, and all clients together: a client
// that asks for more gets ERROR_TOO_MANY_SESS until it closes some or exits.
constexpr std::size_t kMaxSessionsPerProcess = 32;
constexpr std::size_t kMaxSessions = 1024;
// The host keeps this many UTF-16 units of a client id, as the module does.
constexpr std::size_t kMaxClientIdUnits = 64;

struct Session {
    Qv::Corvane::Server::Services::ClientContext* context = nullptr;
    std::wstring clientId;  // for the host's own log lines, cut to kMaxClientIdUnits
    DWORD processId = 0;    // the client's, as the RPC runtime reported it
    // Whom the module's lines for this session are charged to, learned when it was opened;
    // unset (and unused) when the runtime named no process.
    Qv::Corvane::Logging::LogCaller logCaller{};
};

class SessionTable {
public:
    explicit SessionTable(Qv::Corvane::Server::Services::QVService* service) : service_(service) {}
    ~SessionTable() { ReleaseAll(); }
    SessionTable(const SessionTable&) = delete;
    SessionTable& operator=(const SessionTable&) = delete;

    // Null with ERROR_TOO_MANY_SESS when a bound is reached, with ERROR_NOT_ENOUGH_MEMORY
    // when the module made no context.
    Session* Open(const wchar_t* clientId, DWORD processId, long* error);
    // False when the session had already ended (the pointer is then not touched).
    bool Close(void* session);
    // Whether the pointer names a live session; only for calls that hold it open
    // through the RPC runtime, which runs no rundown while a call uses the handle.
    bool Contains(void* session) const;
    std::size_t Count() const;
    std::size_t ReleaseAll();

private:
    // Takes the session out of the table; false when it was not there.
    bool Forget(Session* session);

    Qv::Corvane::Server::Services::QVService* service_;
    mutable std::mutex mutex_;
    std::unordered_set<void*> sessions_;
    std::unordered_map<DWORD, std::size_t> perProcess_;
};

}  // namespace Kestrane::Host
