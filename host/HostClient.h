// A client's session with kestrane-host over ncalrpc: connect, run requests, close.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

struct Answer {
    unsigned long rpcError = 0;   // the RPC runtime's failure (the call did not complete)
    long hostError = 0;           // the host refused the call (a Win32 error)
    unsigned long status = 0;     // the module's status, when both of the above are 0
    std::wstring response;
    bool hasResponse = false;
    bool Delivered() const { return rpcError == 0 && hostError == 0; }
};

class HostSession {
public:
    // Binds to ncalrpc:endpoint and opens a session under clientId.
    HostSession(const std::wstring& endpoint, const std::wstring& clientId);
    // Closes the session, when one is open, and frees the binding.
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // 0 when the session is open, else the RPC or host error of the step that failed.
    unsigned long OpenError() const { return openError_; }
    Answer Execute(long functionId, const std::wstring& request);

    // Host-wide questions on the same binding.
    bool HostStatus(unsigned long* liveSessions, unsigned long* callsInFlight);
    unsigned long StopHost();

private:
    handle_t binding_ = nullptr;
    void* session_ = nullptr;
    unsigned long openError_ = 0;
};

}  // namespace Kestrane::Host
