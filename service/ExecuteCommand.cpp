// One request: check the pointers, parse, dispatch by function id, serialise.
#include "service/KestraneService.h"

#include "access/CallerProcessId.h"
#include "json/UtilHelper.h"
#include "service/ClientContext.h"

#include <cstddef>
#include <cstring>
#include <exception>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// A call's JSON (both documents, the parse stacks, the serialised response) lives in
// one pool that starts in this many bytes on the calling thread's stack and goes on
// in heap chunks only for larger requests and responses.
constexpr std::size_t kCallArenaBytes = 8 * 1024;
// Where each parse stack starts, and the heap chunks after the arena (RapidJSON's own defaults).
constexpr std::size_t kParseStackBytes = 1024;
constexpr std::size_t kPoolChunkBytes = 64 * 1024;
// What a call's handler and serialisation may add to the pool after the request is
// parsed. Any answer within kMaxResponseUnits needs well under half of it, so only
// answers that would be refused anyway reach it; the handler then ends as if memory had
// run out (status 0x20000002, no response, a log line) instead of growing the host.
constexpr std::size_t kMaxResponseJsonBytes = 4 * 1024 * 1024;
// Longer answers are refused (status 0x20000002, no response, a log line), never cut:
// a cut would hand the host text that is not JSON.
constexpr std::size_t kMaxResponseUnits = 65536;

class CallbackRelease {
public:
    explicit CallbackRelease(ServiceCallback* callback) : callback_(callback) {}
    ~CallbackRelease() { DestroyServiceCallback(callback_); }
    CallbackRelease(const CallbackRelease&) = delete;
    CallbackRelease& operator=(const CallbackRelease&) = delete;

private:
    ServiceCallback* callback_;
};

}  // namespace

ServiceStatus KestraneService::Dispatch(int32_t functionId, JsonDocument* request, JsonDocument* response,
                                        const WCHAR* clientId, AccessPolicy* accessPolicy) {
    switch (functionId) {
    case 0: return CheckRegistryPathExists(request, response, clientId);
    case 2: return WriteRegistryKey(request, response, clientId, accessPolicy);
    case 4: return ReadRegistryValue(request, response, clientId, accessPolicy);
    case 8: return ReadRegistryValues(request, response, clientId, accessPolicy);
    case 16: return WriteRegistryValue(request, response, clientId, accessPolicy);
    case 32: return DeleteRegistryKey(request, response, clientId, accessPolicy);
    case 64: return DeleteRegistryValue(request, response, clientId, accessPolicy);
    case 128: return ReadRegistrySubKeys(request, response, clientId, accessPolicy);
    default:
        LogError(clientId, "ExecuteCommand", WIDE("%S.%S - Unsupported Function call %d"), functionId);
        return UnsupportedFunction;
    }
}

// The host's compiler passes `callback` by value: the object is the caller's, but it is
// this call that must destroy it, exactly once, on every way out. It is never called.
ServiceStatus KestraneService::ExecuteCommand(ClientContext* context, int32_t functionId, const WCHAR* message,
                                              WCHAR** outString, ServiceCallback* callback,
                                              AccessPolicy* accessPolicy) {
    const CallbackRelease release(callback);
    const CallerProcessIdScope oneClient;
    if (!context) return GeneralFailure;
    const WCHAR* clientId = context->clientId;
    if (UtilHelper::NullChecker({{message, "message"}, {outString, "outString"}}, clientId)) return GeneralFailure;

    // Nothing but the integer statuses of the request records may be thrown below, and
    // those never leave a handler; anything else (out of memory) must not reach the host.
    try {
        alignas(std::max_align_t) unsigned char arena[kCallArenaBytes];
        ThrowingCrtAllocator heap;
        JsonAllocator pool(arena, sizeof arena, kPoolChunkBytes, &heap);
        JsonDocument request(&pool, kParseStackBytes, &pool);
        JsonDocument response(&pool, kParseStackBytes, &pool);
        response.SetObject();

        // The iterative parser accepts exactly the texts the recursive one does, but a
        // request of deeply nested arrays cannot exhaust this thread's stack: a client
        // must not be able to kill the host with one request.
        JsonStringStream stream(message);
        bool parsed = true;
        try {
            request.ParseStream<rapidjson::kParseIterativeFlag>(stream);
            parsed = !request.HasParseError();
        } catch (const JsonPreconditionFailed&) {
            parsed = false;  // text the document cannot hold, such as an escaped lone low surrogate
        }
        if (!parsed) {
            *outString = nullptr;
            return InvalidJson;
        }
        heap.Limit(heap.Allocated() + kMaxResponseJsonBytes);

        const ServiceStatus status = Dispatch(functionId, &request, &response, clientId, accessPolicy);

        JsonPoolStringBuffer buffer(&pool);
        JsonPoolWriter writer(buffer, &pool);
        response.Accept(writer);
        const std::size_t length = buffer.GetSize() / sizeof(WCHAR);
        if (length > kMaxResponseUnits) {
            *outString = nullptr;
            LogError(clientId, "ExecuteCommand", WIDE("%S.%S - response of %d characters refused, over the bound of %d"),
                     static_cast<int32_t>(length), static_cast<int32_t>(kMaxResponseUnits));
            return GeneralFailure;
        }
        auto* text = static_cast<WCHAR*>(std::malloc((length + 1) * sizeof(WCHAR)));
        if (!text) throw std::bad_alloc();
        std::memcpy(text, buffer.GetString(), length * sizeof(WCHAR));
        text[length] = 0;
        *outString = text;
        return status;
    } catch (const std::exception& failure) {
        *outString = nullptr;
        LogError(clientId, "ExecuteCommand", WIDE("%S.%S - request abandoned: %S"), failure.what());
        return GeneralFailure;
    }
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
