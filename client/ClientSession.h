// A session with kestrane-host: the binding to its endpoint and the host's session
// handle. Every call to the host runs on a pool thread and holds a reference to the
// session, so a call the caller gave up on can finish (or hang) without the binding
// going away under it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace Kestrane::Client {

// What a KestraneSession* of the public header points to.
struct Session {
    handle_t binding = nullptr;
    void* context = nullptr;  // the host's session; null once closed
    DWORD timeoutMs = 0;
    std::atomic<long> references{1};
    // Non-zero once a call found no host: the error every later call answers.
    std::atomic<unsigned long> lostError{0};
};

// What one call to the host came to, and the Win32 or RPC error behind anything but Done.
struct CallResult {
    enum Kind {
        Done,             // the host answered
        Unreachable,      // no answer: no host, a broken connection, the timeout; the session is lost
        Refused,          // the host (or its RPC runtime) turned the call down
        InvalidArgument,  // an endpoint that makes no binding
        NoResources,      // this process had no memory or pool thread for the call
    };
    Kind kind = Done;
    unsigned long error = 0;
};

void AddReference(Session* session);
// The last reference frees the host's session handle (locally) and the binding.
void Release(Session* session);

// Binds to ncalrpc:endpoint and opens a session under clientId. On success *session is
// the new session (one reference, the caller's).
CallResult OpenHostSession(const std::wstring& endpoint, const std::wstring& clientId, DWORD timeoutMs,
                           Session** session);
// Runs one request. On success *response is the host's text or null, for the caller
// to free with MIDL_user_free.
CallResult ExecuteRequest(Session* session, long functionId, const wchar_t* request, unsigned long* status,
                          wchar_t** response);
CallResult QueryHostStatus(Session* session, unsigned long* liveSessions, unsigned long* callsInFlight);
CallResult AskHostToStop(Session* session);
// Tells the host the session is over (unless it is lost) and drops the caller's reference.
void CloseHostSession(Session* session);

}  // namespace Kestrane::Client
