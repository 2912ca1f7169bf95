// The exported functions of KestraneClient.dll: argument checks, the result and its
// last error, and no C++ exception crossing into the caller.
#include "client/kestrane_client.h"

#include "client/ApiResult.h"

#include <rpc.h>
#include <rpcndr.h>

#include <cwchar>
#include <new>

using namespace Kestrane::Client;

extern "C" {

KestraneResult __cdecl KestraneOpenSession(const wchar_t* endpoint, const wchar_t* clientId, unsigned long timeoutMs,
                                           KestraneSession** session) {
    if (session != nullptr) *session = nullptr;
    if (session == nullptr || clientId == nullptr || timeoutMs > KESTRANE_MAX_TIMEOUT_MS) return InvalidArgument();
    try {
        Session* opened = nullptr;
        // The host takes no longer id: it is cut here, as the host's log lines would.
        const std::wstring id(clientId, wcsnlen(clientId, KESTRANE_MAX_CLIENT_ID_CHARS));
        const CallResult result =
            OpenHostSession(endpoint != nullptr ? endpoint : L"", id,
                            timeoutMs != 0 ? timeoutMs : KESTRANE_DEFAULT_TIMEOUT_MS, &opened);
        *session = reinterpret_cast<KestraneSession*>(opened);
        return Answer(result);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

KestraneResult __cdecl KestraneExecute(KestraneSession* session, long functionId, const wchar_t* request,
                                       unsigned long* status, wchar_t** response) {
    if (status != nullptr) *status = KESTRANE_STATUS_GENERAL_FAILURE;
    if (response != nullptr) *response = nullptr;
    if (session == nullptr || request == nullptr || status == nullptr || response == nullptr) return InvalidArgument();
    try {
        const size_t units = wcsnlen(request, KESTRANE_MAX_REQUEST_CHARS + 1);
        return Answer(RunRequest(session, functionId, request, units, status, response));
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

void __cdecl KestraneFreeResponse(wchar_t* response) {
    if (response != nullptr) MIDL_user_free(response);
}

void __cdecl KestraneCloseSession(KestraneSession* session) {
    if (session == nullptr) return;
    try {
        CloseHostSession(Inside(session));
    } catch (const std::bad_alloc&) {
        // No memory to tell the host: it runs the session down when the connection goes.
        Release(Inside(session));
    }
}

const char* __cdecl KestraneStatusName(unsigned long status) {
    switch (status) {
    case KESTRANE_STATUS_SUCCESS: return "Success";
    case KESTRANE_STATUS_UNSUPPORTED_FUNCTION: return "UnsupportedFunction";
    case KESTRANE_STATUS_GENERAL_FAILURE: return "GeneralFailure";
    case KESTRANE_STATUS_INVALID_KEY_PATH: return "InvalidKeyPath";
    case KESTRANE_STATUS_OPEN_KEY_FAILED: return "OpenKeyFailed";
    case KESTRANE_STATUS_ROOT_KEY_NOT_FOUND: return "RootKeyNotFound";
    case KESTRANE_STATUS_INVALID_VALUE_NAME: return "InvalidValueName";
    case KESTRANE_STATUS_INVALID_DATA_TYPE: return "InvalidDataType";
    case KESTRANE_STATUS_INVALID_WRITE_DATA: return "InvalidWriteData";
    case KESTRANE_STATUS_NOT_WHITE_LISTED: return "NotWhiteListed";
    case KESTRANE_STATUS_DELETE_VALUE_FAILED: return "DeleteValueFailed";
    case KESTRANE_STATUS_INVALID_JSON: return "InvalidJson";
    default: return "WindowsError";  // one delete path passes a Win32 error through
    }
}

KestraneResult __cdecl KestraneHostStatus(KestraneSession* session, unsigned long* liveSessions,
                                          unsigned long* callsInFlight) {
    if (session == nullptr || liveSessions == nullptr || callsInFlight == nullptr) return InvalidArgument();
    try {
        return Answer(QueryHostStatus(Inside(session), liveSessions, callsInFlight));
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

KestraneResult __cdecl KestraneStopHost(KestraneSession* session) {
    if (session == nullptr) return InvalidArgument();
    try {
        return Answer(AskHostToStop(Inside(session)));
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

}  // extern "C"
