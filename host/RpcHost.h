// The host's RPC side: listens on one local ncalrpc endpoint and serves the
// KestraneHost interface with the loaded service, until Stop.
#pragma once

#include "host/SessionTable.h"
#include "service/QVService.h"

#include <windows.h>

#include <string>

namespace Kestrane::Host {

struct HostOptions {
    // Empty: the service's own way, an endpoint the runtime names when the host starts,
    // registered with the endpoint mapper for the KestraneHost interface (clients find it
    // there). A name: that endpoint only, in nobody's map (tests, a host in a console).
    std::wstring endpoint;
    bool allowStop = false;  // whether a client's StopHost is honoured
};

// Requests above this many bytes of UTF-16 text are refused before the module.
constexpr size_t kMaxRequestBytes = 1u << 20;
// Calls the host runs at once (sessions opened and requests run, counted by the host
// itself); a call beyond them is answered RPC_S_SERVER_TOO_BUSY at once.
constexpr unsigned kMaxConcurrentCalls = 32;
// Who may connect to the endpoint: the system, administrators, authenticated users.
constexpr const wchar_t* kEndpointSecurity = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;AU)";
// The note the host's entries in the endpoint map carry (for whoever lists the map).
constexpr const wchar_t* kEndpointMapNote = L"Kestrane registry service";

class RpcHost {
public:
    RpcHost(Qv::Corvane::Server::Services::QVService* service, const HostOptions& options);
    ~RpcHost();
    RpcHost(const RpcHost&) = delete;
    RpcHost& operator=(const RpcHost&) = delete;

    // 0 once listening, else the first failing RPC status.
    RPC_STATUS Status() const { return status_; }
    // Blocks until RequestStop (Ctrl-C, the service manager or a client's StopHost).
    void WaitForStopRequest();
    static void RequestStop();
    // Stops listening, waits for the calls in flight, releases every session.
    void Stop();

private:
    SessionTable sessions_;
    RPC_STATUS status_ = RPC_S_OK;
    bool registered_ = false;
    bool listening_ = false;
    RPC_BINDING_VECTOR* mapped_ = nullptr;  // what the endpoint map holds of this host
};

}  // namespace Kestrane::Host
