#include "client/ClientSession.h"

#include "KestraneHost.h"
#include "client/AnswerAllocator.h"
#include "client/PoolCall.h"
#include "rpc/EndpointBinding.h"
#include "rpc/ServerIdentity.h"
#include "rpc/RpcGuard.h"

#include <memory>
#include <new>

namespace Kestrane::Client {

namespace {

// One call to the host, run on a pool thread. It owns its inputs (copies of the
// caller's) and its outputs, and a reference to the session.
class HostCall final : public PoolCall {
public:
    using Stub = long (*)(HostCall& call);

    HostCall(Session* session, Stub stub) : session(session), stub_(stub) { AddReference(session); }
    ~HostCall() override {
        if (response != nullptr) MIDL_user_free(response);
        if (opened != nullptr) RpcSsDestroyClientContext(&opened);  // an open the caller gave up on
        Release(session);
    }

    void Run() override {
        long result = 0;
        HostCall& self = *this;
        const Stub stub = stub_;
        TakeAnswerRefusal();
        rpcError = KestraneRpcGuarded([&] { result = stub(self); });
        if (rpcError != 0 && TakeAnswerRefusal()) rpcError = ERROR_INVALID_DATA;  // an answer over the bound
        if (rpcError == 0) hostError = result;
    }

    Session* const session;
    long functionId = 0;
    std::wstring text;  // the client id or the request
    unsigned long status = 0;
    unsigned long liveSessions = 0;
    unsigned long callsInFlight = 0;
    wchar_t* response = nullptr;
    void* opened = nullptr;
    unsigned long rpcError = 0;
    long hostError = 0;

private:
    const Stub stub_;
};

long OpenStub(HostCall& call) {
    KestraneSession opened = nullptr;
    const long result = ::OpenSession(call.session->binding, static_cast<unsigned long>(call.text.size() + 1),
                                      call.text.c_str(), &opened);
    call.opened = opened;
    return result;
}

long ExecuteStub(HostCall& call) {
    return ::Execute(call.session->context, call.functionId, static_cast<unsigned long>(call.text.size() + 1),
                     call.text.c_str(), &call.status, &call.response);
}

long CloseStub(HostCall& call) { return ::CloseSession(&call.session->context); }

long HostStatusStub(HostCall& call) {
    return ::HostStatus(call.session->binding, &call.liveSessions, &call.callsInFlight);
}

long StopStub(HostCall& call) { return ::StopHost(call.session->binding); }

// Rebinds the session to the endpoint (call.text) so that its calls reach only a host that
// may be trusted with anything of the client's (rpc/ServerIdentity.h).
long IdentityStub(HostCall& call) {
    std::wstring account;
    return static_cast<long>(
        Kestrane::Host::ConnectToTrustedServer(call.text, L"", &call.session->binding, &account));
}

// The runtime's errors after which a session cannot go on: no host answered, the
// connection broke, or the host no longer knows the session (it was restarted).
bool SessionLost(unsigned long error) {
    switch (error) {
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_SERVER_TOO_BUSY:
    case RPC_S_CALL_FAILED:
    case RPC_S_CALL_FAILED_DNE:
    case RPC_S_PROTOCOL_ERROR:
    case RPC_S_UNKNOWN_IF:
    case RPC_S_NOT_LISTENING:
    case RPC_S_CALL_CANCELLED:
    case RPC_S_COMM_FAILURE:
    case EPT_S_NOT_REGISTERED:
    case RPC_X_SS_CONTEXT_MISMATCH:
    case RPC_X_SS_IN_NULL_CONTEXT:
    case ERROR_TIMEOUT:
        return true;
    default:
        return false;
    }
}

// Runs call within timeoutMs. *finished is the call when it finished in time (the
// caller reads its outputs), else null.
CallResult Perform(Session* session, std::unique_ptr<HostCall> call, DWORD timeoutMs,
                   std::unique_ptr<HostCall>* finished = nullptr) {
    const unsigned long lost = session->lostError.load();
    if (lost != 0) return {CallResult::Unreachable, lost};
    std::unique_ptr<PoolCall> pooled(call.release());
    CallResult result;
    switch (RunOnPool(pooled, timeoutMs)) {
    case PoolOutcome::NoThread:
        return {CallResult::NoResources, GetLastError()};
    case PoolOutcome::TimedOut:
        result = {CallResult::Unreachable, ERROR_TIMEOUT};
        break;
    case PoolOutcome::Finished: {
        auto* done = static_cast<HostCall*>(pooled.get());
        if (done->rpcError != 0) {
            result = {SessionLost(done->rpcError) ? CallResult::Unreachable : CallResult::Refused, done->rpcError};
        } else if (done->hostError != 0) {
            result = {CallResult::Refused, static_cast<unsigned long>(done->hostError)};
        }
        if (finished != nullptr) finished->reset(static_cast<HostCall*>(pooled.release()));
        break;
    }
    }
    if (result.kind == CallResult::Unreachable) {
        unsigned long none = 0;
        session->lostError.compare_exchange_strong(none, result.error);
    }
    return result;
}

// Opens are made one at a time in this process. Under Wine, connections to one
// endpoint made at the same moment by several threads can land in different
// association groups, and a session opened on one is then unknown on the other
// (RPC_X_SS_CONTEXT_MISMATCH); once one connection stands, later ones join its group.
HANDLE OpenLock() {
    static const HANDLE lock = CreateMutexW(nullptr, FALSE, nullptr);
    return lock;
}

}  // namespace

void AddReference(Session* session) { ++session->references; }

void Release(Session* session) {
    if (--session->references != 0) return;
    if (session->context != nullptr) RpcSsDestroyClientContext(&session->context);
    if (session->binding != nullptr) RpcBindingFree(&session->binding);
    delete session;
}

CallResult OpenHostSession(const std::wstring& endpoint, const std::wstring& clientId, DWORD timeoutMs,
                           Session** opened) {
    *opened = nullptr;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    auto* session = new (std::nothrow) Session;
    if (session == nullptr) return {CallResult::NoResources, ERROR_NOT_ENOUGH_MEMORY};
    session->timeoutMs = timeoutMs;
    // An endpoint that makes no binding is the caller's mistake, told before any wait.
    const unsigned long status = Kestrane::Host::BindToEndpoint(endpoint, &session->binding);
    if (status != RPC_S_OK) {
        Release(session);
        return {status == RPC_S_OUT_OF_MEMORY ? CallResult::NoResources : CallResult::InvalidArgument, status};
    }

    const HANDLE lock = OpenLock();
    if (lock == nullptr) {
        const unsigned long error = GetLastError();
        Release(session);
        return {CallResult::NoResources, error};
    }
    CallResult result;
    // Abandoned: a thread ended while opening; the lock is this thread's all the same.
    const DWORD waited = WaitForSingleObject(lock, timeoutMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        result = {CallResult::Unreachable, ERROR_TIMEOUT};
    } else {
        // Nothing has been sent yet, and nothing of the client's, its id included, goes to
        // a server that is not to be trusted: that comes back as a refusal with
        // kServerNotTrusted (628).
        ULONGLONG now = GetTickCount64();
        auto identity = std::make_unique<HostCall>(session, IdentityStub);
        identity->text = endpoint;
        result = Perform(session, std::move(identity), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        if (result.kind == CallResult::Refused && SessionLost(result.error)) result.kind = CallResult::Unreachable;
        std::unique_ptr<HostCall> finished;
        if (result.kind == CallResult::Done) {
            auto call = std::make_unique<HostCall>(session, OpenStub);
            call->text = clientId;
            now = GetTickCount64();
            result = Perform(session, std::move(call), now < deadline ? static_cast<DWORD>(deadline - now) : 0,
                             &finished);
        }
        ReleaseMutex(lock);
        if (result.kind == CallResult::Done) {
            session->context = finished->opened;
            finished->opened = nullptr;
        }
    }
    if (result.kind != CallResult::Done) {
        Release(session);
        return result;
    }
    *opened = session;
    return result;
}

CallResult ExecuteRequest(Session* session, long functionId, const wchar_t* request, unsigned long* status,
                          wchar_t** response) {
    auto call = std::make_unique<HostCall>(session, ExecuteStub);
    call->functionId = functionId;
    call->text = request;
    std::unique_ptr<HostCall> finished;
    const CallResult result = Perform(session, std::move(call), session->timeoutMs, &finished);
    if (result.kind == CallResult::Done) {
        *status = finished->status;
        *response = finished->response;
        finished->response = nullptr;
    }
    return result;
}

CallResult QueryHostStatus(Session* session, unsigned long* liveSessions, unsigned long* callsInFlight) {
    std::unique_ptr<HostCall> finished;
    const CallResult result =
        Perform(session, std::make_unique<HostCall>(session, HostStatusStub), session->timeoutMs, &finished);
    if (result.kind == CallResult::Done) {
        *liveSessions = finished->liveSessions;
        *callsInFlight = finished->callsInFlight;
    }
    return result;
}

CallResult AskHostToStop(Session* session) {
    return Perform(session, std::make_unique<HostCall>(session, StopStub), session->timeoutMs);
}

void CloseHostSession(Session* session) {
    // A lost session has no host to tell; the last reference frees the handle locally.
    if (session->context != nullptr && session->lostError.load() == 0) {
        Perform(session, std::make_unique<HostCall>(session, CloseStub), session->timeoutMs);
    }
    Release(session);
}

}  // namespace Kestrane::Client
