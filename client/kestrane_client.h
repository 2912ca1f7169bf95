/* kestrane_client.h: calling kestrane-host from an application.
 *
 * Link KestraneClient.lib (the import library of KestraneClient.dll). Plain C, x64,
 * usable from C, C++ (any compiler), C# (P/Invoke), Python (ctypes), Rust and others.
 *
 * A session is a connection to the host under a client id; each request is a function
 * id and a UTF-16 JSON text, answered by a status and a UTF-16 JSON text. Every call
 * returns a KestraneResult; when it is not KESTRANE_OK, GetLastError() on the same
 * thread gives the Win32 or RPC error behind it (C#: SetLastError = true; ctypes:
 * use_last_error=True).
 *
 * Memory: the library allocates every response and only KestraneFreeResponse frees it;
 * nothing here depends on the caller's C runtime.
 *
 * Thread safety, per function:
 *   KestraneOpenSession, KestraneStatusName, KestraneFreeResponse: any thread, any time.
 *   KestraneExecute, KestraneHostStatus, KestraneStopHost: any number of threads at once,
 *     on one session or on sessions of their own. The host runs the calls of one
 *     session one after the other; for requests in parallel, use a session per thread.
 *   KestraneCloseSession: once per session, when no other call on it is running or
 *     will be made (as for CloseHandle).
 */
#ifndef KESTRANE_CLIENT_H
#define KESTRANE_CLIENT_H

#include <wchar.h>

#ifdef KESTRANE_CLIENT_BUILD
#define KESTRANE_CLIENT_API __declspec(dllexport)
#else
#define KESTRANE_CLIENT_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The endpoint kestrane-host listens on unless started with --endpoint. */
#define KESTRANE_DEFAULT_ENDPOINT L"kestrane"

/* How long a call may wait for the host's answer: KestraneOpenSession's timeoutMs,
   where 0 means the default. */
#define KESTRANE_DEFAULT_TIMEOUT_MS 10000u
#define KESTRANE_MAX_TIMEOUT_MS 600000u

/* Function ids. */
#define KESTRANE_CHECK_REGISTRY_PATH_EXISTS 0
#define KESTRANE_WRITE_REGISTRY_KEY 2
#define KESTRANE_READ_REGISTRY_VALUE 4
#define KESTRANE_READ_REGISTRY_VALUES 8
#define KESTRANE_WRITE_REGISTRY_VALUE 16
#define KESTRANE_DELETE_REGISTRY_KEY 32
#define KESTRANE_DELETE_REGISTRY_VALUE 64
#define KESTRANE_READ_REGISTRY_SUB_KEYS 128

/* Statuses of an executed request (KestraneStatusName gives their names). Any value
   other than KESTRANE_STATUS_SUCCESS is a failure; one delete path passes a Win32
   error through. */
#define KESTRANE_STATUS_SUCCESS 0x00000000u
#define KESTRANE_STATUS_UNSUPPORTED_FUNCTION 0x20000001u
#define KESTRANE_STATUS_GENERAL_FAILURE 0x20000002u
#define KESTRANE_STATUS_INVALID_KEY_PATH 0x20000003u
#define KESTRANE_STATUS_OPEN_KEY_FAILED 0x20000004u
#define KESTRANE_STATUS_ROOT_KEY_NOT_FOUND 0x20000005u
#define KESTRANE_STATUS_INVALID_VALUE_NAME 0x20000006u
#define KESTRANE_STATUS_INVALID_DATA_TYPE 0x20000007u
#define KESTRANE_STATUS_INVALID_WRITE_DATA 0x20000008u
#define KESTRANE_STATUS_NOT_WHITE_LISTED 0x20000009u
#define KESTRANE_STATUS_DELETE_VALUE_FAILED 0x2000000Au
#define KESTRANE_STATUS_INVALID_JSON 0x2000000Bu

typedef enum KestraneResult {
    /* The host answered: see the status and response. */
    KESTRANE_OK = 0,
    /* No answer from a host: none listens on the endpoint, the connection broke, or
       none came within the session's timeout (GetLastError() == ERROR_TIMEOUT). A
       request may or may not have run. The session is over: every later call on it
       answers the same at once; close it and open a new one. */
    KESTRANE_UNREACHABLE = 1,
    /* The host refused the call before running it; GetLastError() says why, e.g.
       ERROR_MESSAGE_EXCEEDS_MAX_SIZE for a request over 1 MiB, ERROR_ACCESS_DENIED for
       a stop the host does not take, ERROR_INVALID_HANDLE for a session the host has
       ended (when it is stopping). */
    KESTRANE_REFUSED = 2,
    /* A null pointer, a timeout over KESTRANE_MAX_TIMEOUT_MS, an endpoint name that
       makes no binding. */
    KESTRANE_INVALID_ARGUMENT = 3,
    /* This process ran out of memory or threads. */
    KESTRANE_NO_RESOURCES = 4
} KestraneResult;

typedef struct KestraneSession KestraneSession;

/* Connects to kestrane-host on endpoint (null: KESTRANE_DEFAULT_ENDPOINT) and opens a
   session under clientId (the name the host's log lines give this client). Every call
   on the session waits at most timeoutMs (0: KESTRANE_DEFAULT_TIMEOUT_MS) for the
   host. On KESTRANE_OK *session is the new session, else null. Before anything of the
   caller's is sent, the server must run as LocalSystem or as this process's user:
   otherwise KESTRANE_REFUSED with GetLastError() 628 (ERROR_SERVER_SID_MISMATCH). */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneOpenSession(const wchar_t* endpoint, const wchar_t* clientId,
                                                               unsigned long timeoutMs, KestraneSession** session);

/* Runs one request: functionId with the NUL-terminated UTF-16 JSON text request. On
   KESTRANE_OK, *status is the request's status and *response its answer text, or null
   when there is none (a request that is not JSON); free it with KestraneFreeResponse.
   On any other result *status is KESTRANE_STATUS_GENERAL_FAILURE and *response null. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneExecute(KestraneSession* session, long functionId,
                                                           const wchar_t* request, unsigned long* status,
                                                           wchar_t** response);

/* Frees a response of KestraneExecute; null is ignored. */
KESTRANE_CLIENT_API void __cdecl KestraneFreeResponse(wchar_t* response);

/* Ends the session with the host (without waiting past the timeout) and frees it;
   null is ignored. */
KESTRANE_CLIENT_API void __cdecl KestraneCloseSession(KestraneSession* session);

/* The name of a status ("Success", "NotWhiteListed", ...; "WindowsError" for any value
   not listed above). A static string: never freed. */
KESTRANE_CLIENT_API const char* __cdecl KestraneStatusName(unsigned long status);

/* The host's sessions open (this one included) and calls running. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneHostStatus(KestraneSession* session, unsigned long* liveSessions,
                                                              unsigned long* callsInFlight);

/* Asks the host to stop, as Ctrl-C would: only a host started with --allow-stop
   agrees, others answer KESTRANE_REFUSED with ERROR_ACCESS_DENIED. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneStopHost(KestraneSession* session);

#ifdef __cplusplus
}
#endif

#endif /* KESTRANE_CLIENT_H */
