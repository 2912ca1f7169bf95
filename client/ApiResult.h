// What the exported functions of KestraneClient.dll hand back: a KestraneResult with
// its last error set on the calling thread.
#pragma once

#include "client/ClientSession.h"
#include "client/kestrane_client.h"

#include <windows.h>
#include <rpc.h>
#include <rpcndr.h>

#include <cwchar>

namespace Kestrane::Client {

inline KestraneResult Answer(KestraneResult result, unsigned long error) {
    SetLastError(error);
    return result;
}

inline KestraneResult Answer(const CallResult& call) {
    switch (call.kind) {
    case CallResult::Done: return Answer(KESTRANE_OK, 0);
    case CallResult::Unreachable: return Answer(KESTRANE_UNREACHABLE, call.error);
    case CallResult::Refused: return Answer(KESTRANE_REFUSED, call.error);
    case CallResult::InvalidArgument: return Answer(KESTRANE_INVALID_ARGUMENT, call.error);
    case CallResult::NoResources: break;
    }
    return Answer(KESTRANE_NO_RESOURCES, call.error);
}

inline KestraneResult InvalidArgument() { return Answer(KESTRANE_INVALID_ARGUMENT, ERROR_INVALID_PARAMETER); }
inline KestraneResult OutOfMemory() { return Answer(KESTRANE_NO_RESOURCES, ERROR_NOT_ENOUGH_MEMORY); }
// An answer the library does not take: over the bound, or not the command's.
inline KestraneResult InvalidAnswer() { return Answer(KESTRANE_REFUSED, ERROR_INVALID_DATA); }

inline Session* Inside(KestraneSession* session) { return reinterpret_cast<Session*>(session); }

// Runs one request text, refusing one over the host's bound without sending it, and
// an answer over the host's bound. On anything but Done, *response is null.
inline CallResult RunRequest(KestraneSession* session, long functionId, const wchar_t* request, size_t units,
                             unsigned long* status, wchar_t** response) {
    if (units > KESTRANE_MAX_REQUEST_CHARS) return {CallResult::Refused, ERROR_MESSAGE_EXCEEDS_MAX_SIZE};
    const CallResult result = ExecuteRequest(Inside(session), functionId, request, status, response);
    if (*response != nullptr && wcsnlen(*response, KESTRANE_MAX_ANSWER_CHARS + 1) > KESTRANE_MAX_ANSWER_CHARS) {
        MIDL_user_free(*response);
        *response = nullptr;
        *status = KESTRANE_STATUS_GENERAL_FAILURE;
        return {CallResult::Refused, ERROR_INVALID_DATA};
    }
    return result;
}

}  // namespace Kestrane::Client
