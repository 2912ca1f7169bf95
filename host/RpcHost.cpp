#include "host/RpcHost.h"

#include "KestraneHost.h"
#include "access/CallerProcessId.h"
#include "access/LogCallerOfCall.h"
#include "access/ScopedHandles.h"
#include "host/CallBound.h"
#include "host/ContractObjects.h"
#include "rpc/EndpointBinding.h"
#include "host/HostLog.h"
#include "host/StatusAccess.h"
#include "host/WineEndpointMap.h"
#include "logging/Logging.h"

#include <sddl.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

namespace Svc = Qv::Corvane::Server::Services;

namespace {

// The server routines are plain functions the stub calls; they reach the host here.
Svc::QVService* g_service = nullptr;
Kestrane::Host::SessionTable* g_sessions = nullptr;
bool g_allowStop = false;
Kestrane::Host::CallBound g_calls(Kestrane::Host::kMaxConcurrentCalls);
HANDLE g_stopEvent = nullptr;

// A place among the calls running, held for the call's life; Taken() is false when the
// host already runs all it may.
class CallInFlight {
public:
    CallInFlight() : taken_(g_calls.TryTake()) {}
    ~CallInFlight() {
        if (taken_) g_calls.Release();
    }
    CallInFlight(const CallInFlight&) = delete;
    CallInFlight& operator=(const CallInFlight&) = delete;
    bool Taken() const { return taken_; }

private:
    const bool taken_;
};

constexpr const wchar_t* kOverCallBound = L"a call over the bound of calls at once";

wchar_t* StubCopy(const wchar_t* text) {
    const std::size_t length = std::wcslen(text);
    auto* copy = static_cast<wchar_t*>(MIDL_user_allocate((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) std::memcpy(copy, text, (length + 1) * sizeof(wchar_t));
    return copy;
}

// The session's client, named to the log for the lines the module logs while serving it.
// A session is a context handle, which the RPC runtime lets only the client that opened it
// use, so the module need not ask the runtime again for each request. Named for this call
// only: the runtime's next call on this thread may be anyone's.
class NamedLogCaller {
public:
    explicit NamedLogCaller(const Qv::Corvane::Logging::LogCaller* caller) {
        Qv::Corvane::Logging::SetLogCallerOfThisThread(caller);
    }
    ~NamedLogCaller() { Qv::Corvane::Logging::SetLogCallerOfThisThread(nullptr); }
    NamedLogCaller(const NamedLogCaller&) = delete;
    NamedLogCaller& operator=(const NamedLogCaller&) = delete;
};

// The module impersonates the client only within its own step. Had it left this thread
// holding the client's token, the rest of the call, and whatever this pool thread serves
// next, would run as that client: the host takes the thread back and says so.
void TakeBackThreadFromClient() {
    Qv::Corvane::Server::Services::Kestrane::ScopedHandle token;
    // A token it cannot open is still one held: only "no token" means the thread is the host's.
    const bool held =
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) || GetLastError() != ERROR_NO_TOKEN;
    if (!held) return;
    RevertToSelf();
    Kestrane::Host::LogError(L"KestraneHost.Execute - the module left the thread acting for its client; reverted");
}

}  // namespace

// The interface's counted bounds are the host's own.
static_assert(KESTRANE_MAX_CLIENT_ID_UNITS == Kestrane::Host::kMaxClientIdUnits + 1);
static_assert(KESTRANE_MAX_REQUEST_UNITS == Kestrane::Host::kMaxRequestBytes / sizeof(wchar_t) + 1);

LONG OpenSession(handle_t, ULONG clientIdUnits, const wchar_t* clientId, KestraneSession* session) {
    CallInFlight call;
    *session = nullptr;
    DWORD processId = 0;
    if (Qv::Corvane::Server::Services::Kestrane::InquireCallerProcessId(&processId) != RPC_S_OK) processId = 0;
    if (clientId[clientIdUnits - 1] != L'\0') {
        Kestrane::Host::LogRejected(L"", processId, "OpenSession", L"a client id without its terminator");
        return ERROR_INVALID_PARAMETER;
    }
    if (!call.Taken()) {
        const std::wstring id = std::wstring(clientId).substr(0, Kestrane::Host::kMaxClientIdUnits);
        Kestrane::Host::LogRejected(id.c_str(), processId, "OpenSession", kOverCallBound);
        return RPC_S_SERVER_TOO_BUSY;
    }
    long error = 0;
    Kestrane::Host::Session* opened = g_sessions->Open(clientId, processId, &error);
    if (opened == nullptr) {
        const std::wstring id = std::wstring(clientId).substr(0, Kestrane::Host::kMaxClientIdUnits);
        Kestrane::Host::LogRejected(id.c_str(), processId, "OpenSession",
                                    error == ERROR_TOO_MANY_SESS ? L"a session over the bound of sessions"
                                                                 : L"the module made no client context");
        return error;
    }
    if (processId != 0) Qv::Corvane::Server::Services::Kestrane::DescribeLogCaller(processId, &opened->logCaller);
    Kestrane::Host::LogSessionOpened(opened->clientId.c_str(), processId);
    *session = opened;
    return 0;
}

LONG Execute(KestraneSession session, LONG functionId, ULONG requestUnits, const wchar_t* request, ULONG* status,
             wchar_t** response) {
    CallInFlight call;
    *status = Svc::GeneralFailure;
    *response = nullptr;
    // The runtime runs no rundown while this call holds the handle, but a handle the
    // host already released at shutdown must not be used.
    if (!g_sessions->Contains(session)) {
        Kestrane::Host::LogRejected(L"", 0, "Execute", L"a request on a session that has ended");
        return ERROR_INVALID_HANDLE;
    }
    const auto* opened = static_cast<Kestrane::Host::Session*>(session);
    if (request[requestUnits - 1] != L'\0') {
        Kestrane::Host::LogRejected(opened->clientId.c_str(), opened->processId, "Execute",
                                    L"a request without its terminator");
        return ERROR_INVALID_PARAMETER;
    }
    if (!call.Taken()) {
        Kestrane::Host::LogRejected(opened->clientId.c_str(), opened->processId, "Execute", kOverCallBound);
        return RPC_S_SERVER_TOO_BUSY;
    }
    const std::size_t units = std::wcslen(request);
    if (units * sizeof(wchar_t) > Kestrane::Host::kMaxRequestBytes) {
        Kestrane::Host::LogRejected(opened->clientId.c_str(), opened->processId, "Execute",
                                    L"a request over the size limit");
        return ERROR_MESSAGE_EXCEEDS_MAX_SIZE;
    }
    // No one is exempt from the module's whitelists: every client of this host is equally untrusted.
    Kestrane::Host::FixedAccessPolicy policy(false);
    WCHAR* out = nullptr;
    {
        const NamedLogCaller client(opened->processId != 0 ? &opened->logCaller : nullptr);
        *status = g_service->ExecuteCommand(opened->context, functionId, request, &out,
                                            Kestrane::Host::CallbackArgument().get(), &policy);
    }
    TakeBackThreadFromClient();
    if (out != nullptr) {
        *response = StubCopy(out);
        g_service->FreeOutString(out);
        if (*response == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

LONG CloseSession(KestraneSession* session) {
    CallInFlight call;
    const bool closed = g_sessions->Close(*session);
    *session = nullptr;
    return closed ? 0 : ERROR_INVALID_HANDLE;
}

LONG HostStatus(handle_t binding, ULONG* liveSessions, ULONG* callsInFlight) {
    *liveSessions = 0;
    *callsInFlight = 0;
    if (!Kestrane::Host::CallerMayReadHostStatus(binding)) {
        DWORD processId = 0;
        if (Qv::Corvane::Server::Services::Kestrane::InquireCallerProcessId(&processId) != RPC_S_OK) processId = 0;
        Kestrane::Host::LogRejected(L"", processId, "HostStatus", L"the host's status to a caller who is no administrator");
        return ERROR_ACCESS_DENIED;
    }
    *liveSessions = static_cast<ULONG>(g_sessions->Count());
    *callsInFlight = g_calls.Running();
    return 0;
}

LONG StopHost(handle_t) {
    if (!g_allowStop) {
        DWORD processId = 0;
        if (Qv::Corvane::Server::Services::Kestrane::InquireCallerProcessId(&processId) != RPC_S_OK) processId = 0;
        Kestrane::Host::LogRejected(L"", processId, "StopHost", L"stopping is not allowed for clients of this host");
        return ERROR_ACCESS_DENIED;
    }
    Kestrane::Host::RpcHost::RequestStop();
    return 0;
}

LONG ServerIdentity(handle_t, ULONG* processId) {
    *processId = GetCurrentProcessId();
    return 0;
}

// The client is gone without closing its session.
void __RPC_USER KestraneSession_rundown(KestraneSession session) {
    if (g_sessions != nullptr && g_sessions->Close(session)) {
        Kestrane::Host::LogInfo(L"KestraneHost: released the session of a client that went away");
    }
}

namespace Kestrane::Host {

RpcHost::RpcHost(Svc::QVService* service, const HostOptions& options) : sessions_(service) {
    g_service = service;
    g_sessions = &sessions_;
    g_allowStop = options.allowStop;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // ncalrpc only: no other protocol sequence is registered, so the process has no
    // transport a remote machine could reach.
    auto* protseq = reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(L"ncalrpc"));
    auto* endpoint = reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(options.endpoint.c_str()));
    const bool dynamic = options.endpoint.empty();
    // Windows refuses a second registration of an endpoint name; Wine lets both servers
    // listen and splits the clients between them, so there a server already answering is
    // looked for first (through the map: host/WineEndpointMap.h).
    if (RunningUnderWine() && !dynamic && EndpointAnswers(options.endpoint)) {
        status_ = RPC_S_DUPLICATE_ENDPOINT;
        return;
    }
    // Who may connect is the host's to say, not the runtime's default: the system,
    // administrators and authenticated users; not anonymous callers.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kEndpointSecurity, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        status_ = static_cast<RPC_STATUS>(GetLastError());
        return;
    }
    const std::unique_ptr<void, decltype(&LocalFree)> ownedDescriptor(descriptor, &LocalFree);
    status_ = dynamic ? RpcServerUseProtseqW(protseq, kMaxConcurrentCalls, descriptor)
                      : RpcServerUseProtseqEpW(protseq, kMaxConcurrentCalls, endpoint, descriptor);
    if (status_ != RPC_S_OK) return;
    // Neither number bounds anything on ncalrpc: the size is not applied to it, and the
    // calls only for auto-listen interfaces. Execute checks the size and CallInFlight counts.
    status_ = RpcServerRegisterIf2(KestraneHost_v1_0_s_ifspec, nullptr, nullptr, RPC_IF_ALLOW_LOCAL_ONLY,
                                   kMaxConcurrentCalls, kMaxRequestBytes + 4096, nullptr);
    if (status_ != RPC_S_OK) return;
    registered_ = true;
    if (dynamic) {
        // The map entry names this process's account (Windows): clients asking for the
        // service's account are given only its entries.
        status_ = RpcServerInqBindings(&mapped_);
        if (status_ != RPC_S_OK) return;
        status_ = RunningUnderWine()
                      ? PutFirstInWineMap(KestraneHost_v1_0_s_ifspec, mapped_, kEndpointMapNote)
                      : RpcEpRegisterW(KestraneHost_v1_0_s_ifspec, mapped_, nullptr,
                                       reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(kEndpointMapNote)));
        if (status_ != RPC_S_OK) {
            RpcBindingVectorFree(&mapped_);
            return;
        }
    }
    status_ = RpcServerListen(1, kMaxConcurrentCalls, TRUE);
    listening_ = status_ == RPC_S_OK;
}

RpcHost::~RpcHost() {
    Stop();
    g_sessions = nullptr;
    g_service = nullptr;
    if (g_stopEvent != nullptr) CloseHandle(g_stopEvent);
    g_stopEvent = nullptr;
}

void RpcHost::WaitForStopRequest() {
    if (g_stopEvent == nullptr) return;
    // Logging.dll's own writer puts every line in the file; the host flushes once more as it stops.
    WaitForSingleObject(g_stopEvent, INFINITE);
}

void RpcHost::RequestStop() {
    if (g_stopEvent != nullptr) SetEvent(g_stopEvent);
}

void RpcHost::Stop() {
    // Out of the map first, so no new client is sent here while the host winds down. Not
    // under Wine: its RpcEpUnregister replaces the interface's first entry, maybe a live
    // host's; the entry left leads nowhere once this process is gone.
    if (mapped_ != nullptr) {
        if (!RunningUnderWine() && RpcEpUnregister(KestraneHost_v1_0_s_ifspec, mapped_, nullptr) != RPC_S_OK) {
            LogError(L"KestraneHost: cannot take the endpoint out of the endpoint map");
        }
        RpcBindingVectorFree(&mapped_);
    }
    if (listening_) {
        RpcMgmtStopServerListening(nullptr);
        RpcMgmtWaitServerListen();  // returns once the calls in flight have ended
        listening_ = false;
    }
    if (registered_) {
        RpcServerUnregisterIf(KestraneHost_v1_0_s_ifspec, nullptr, TRUE);
        registered_ = false;
    }
    const std::size_t released = sessions_.ReleaseAll();
    if (released != 0) LogInfo(L"KestraneHost: released the sessions still open at shutdown");
}

}  // namespace Kestrane::Host
