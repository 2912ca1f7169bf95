/* kestrane_client.h: calling kestrane-host from an application.
 *
 * Link KestraneClient.lib (the import library of KestraneClient.dll). Plain C, x64,
 * usable from C, C++ (any compiler), C# (P/Invoke), Python (ctypes), Rust and others.
 *
 * A session is a connection to the host under a client id. The typed calls
 * (KestraneReadValue, KestraneWriteValue, ...) take and give registry values;
 * KestraneExecute sends a raw request: a function id and a UTF-16 JSON text, answered
 * by a status and a UTF-16 JSON text. Every call
 * returns a KestraneResult; when it is not KESTRANE_OK, GetLastError() on the same
 * thread gives the Win32 or RPC error behind it (C#: SetLastError = true; ctypes:
 * use_last_error=True).
 *
 * Memory: the library allocates every result and only its KestraneFree... function
 * frees it; nothing here depends on the caller's C runtime.
 *
 * Thread safety, per function:
 *   KestraneOpenSession, KestraneStatusName, KestraneFree...: any thread, any time.
 *   KestraneExecute, the typed calls, KestraneHostStatus, KestraneStopHost: any number
 *     of threads at once,
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
    /* No answer from a host: none listens on the endpoint (or none is in the endpoint
       map: EPT_S_NOT_REGISTERED), the connection broke, or
       none came within the session's timeout (GetLastError() == ERROR_TIMEOUT). A
       request may or may not have run. The session is over: every later call on it
       answers the same at once; close it and open a new one. */
    KESTRANE_UNREACHABLE = 1,
    /* The host refused the call before running it; GetLastError() says why, e.g.
       ERROR_MESSAGE_EXCEEDS_MAX_SIZE for a request over 1 MiB, ERROR_ACCESS_DENIED for
       a stop the host does not take, ERROR_INVALID_HANDLE for a session the host has
       ended (when it is stopping). Also the library's refusal of an answer it will not
       take: ERROR_INVALID_DATA (the request may have run). */
    KESTRANE_REFUSED = 2,
    /* A null pointer, a timeout over KESTRANE_MAX_TIMEOUT_MS, an endpoint name that
       makes no binding. */
    KESTRANE_INVALID_ARGUMENT = 3,
    /* This process ran out of memory or threads. */
    KESTRANE_NO_RESOURCES = 4
} KestraneResult;

typedef struct KestraneSession KestraneSession;

/* Connects to kestrane-host on the ncalrpc endpoint named endpoint, or, when it is null or
   empty, to the Kestrane service found through the endpoint mapper (the service has no
   fixed endpoint name another user could take while it is stopped), and opens a
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

/* Typed calls: one per command, no JSON to write or read. Key paths are
   "ROOT\\subkey\\..." with ROOT one of HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
   HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG; names are plain NUL-terminated
   UTF-16 and reach the registry as given, whatever characters they hold.

   *status is the host's status (KESTRANE_STATUS_...), KESTRANE_STATUS_GENERAL_FAILURE
   unless the result is KESTRANE_OK. Outputs other than the status are set only on
   KESTRANE_OK with KESTRANE_STATUS_SUCCESS, and are zero or null otherwise.

   The library reads every answer before it hands anything over: an answer over
   KESTRANE_MAX_ANSWER_CHARS, or one that is not what the command answers, is
   KESTRANE_REFUSED with GetLastError() == ERROR_INVALID_DATA, and nothing of it is kept. */

/* The longest answer the host gives and the library takes (KestraneExecute too). */
#define KESTRANE_MAX_ANSWER_CHARS 65536u
/* The longest request text, in UTF-16 units, the host takes; a longer one is
   KESTRANE_REFUSED with ERROR_MESSAGE_EXCEEDS_MAX_SIZE and is not sent. */
#define KESTRANE_MAX_REQUEST_CHARS 524288u
/* Client ids are kept to this many UTF-16 units; a longer one is cut, with no error. */
#define KESTRANE_MAX_CLIENT_ID_CHARS 64u

/* A registry value. type is the registry type code (REG_SZ 1, REG_EXPAND_SZ 2,
   REG_BINARY 3, REG_DWORD 4, REG_MULTI_SZ 7, REG_QWORD 11; reads may also give
   REG_DWORD_BIG_ENDIAN 5 in dword and REG_LINK 6 in text), and selects the member:
   numbers are the registry's bits (a DWORD of 0xFFFFFFFF stays 0xFFFFFFFF). */
typedef struct KestraneValue {
    unsigned long type;
    union {
        const wchar_t* text;                 /* REG_SZ, REG_EXPAND_SZ, REG_LINK */
        unsigned long dword;                 /* REG_DWORD, REG_DWORD_BIG_ENDIAN */
        unsigned long long qword;            /* REG_QWORD */
        struct {
            const unsigned char* bytes;
            unsigned long size;
        } binary;                            /* REG_BINARY */
        struct {
            const wchar_t* const* items;
            unsigned long count;
        } multi;                             /* REG_MULTI_SZ, in order */
    } data;
} KestraneValue;

typedef struct KestraneNamedValue {
    const wchar_t* name; /* "" for a key's default value */
    KestraneValue value;
} KestraneNamedValue;

/* Every value of a key, in the registry's order. */
typedef struct KestraneValueList {
    unsigned long count;
    const KestraneNamedValue* items;
} KestraneValueList;

/* The names of a key's subkeys, in the registry's order. */
typedef struct KestraneNameList {
    unsigned long count;
    const wchar_t* const* names;
} KestraneNameList;

/* Id 0: *exists is nonzero when the host's account can open the key for reading. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneKeyExists(KestraneSession* session, const wchar_t* keyPath,
                                                             unsigned long* status, int* exists);
/* Id 4: one value; expand nonzero gives REG_EXPAND_SZ text expanded. Free *value with
   KestraneFreeValue. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneReadValue(KestraneSession* session, const wchar_t* keyPath,
                                                             const wchar_t* valueName, int expand,
                                                             unsigned long* status, KestraneValue** value);
/* Id 8: every value of the key. Free *values with KestraneFreeValueList. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneReadValues(KestraneSession* session, const wchar_t* keyPath,
                                                              int expand, unsigned long* status,
                                                              KestraneValueList** values);
/* Id 128: the key's subkeys. Free *subkeys with KestraneFreeNameList. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneListSubkeys(KestraneSession* session, const wchar_t* keyPath,
                                                               unsigned long* status, KestraneNameList** subkeys);
/* Id 2: creates the key and any missing parent (an existing key is success). */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneCreateKey(KestraneSession* session, const wchar_t* keyPath,
                                                             unsigned long* status);
/* Id 16: creates the key when needed and sets the value. A type other than the six
   writable ones is KESTRANE_INVALID_ARGUMENT and is not sent. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneWriteValue(KestraneSession* session, const wchar_t* keyPath,
                                                              const wchar_t* valueName, const KestraneValue* value,
                                                              unsigned long* status);
/* Id 32: deletes a key that has no subkeys. *deleted (may be null) is zero when there
   was no such key: that is KESTRANE_STATUS_SUCCESS too. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneDeleteKey(KestraneSession* session, const wchar_t* keyPath,
                                                             unsigned long* status, int* deleted);
/* Id 64: deletes one named value. */
KESTRANE_CLIENT_API KestraneResult __cdecl KestraneDeleteValue(KestraneSession* session, const wchar_t* keyPath,
                                                               const wchar_t* valueName, unsigned long* status);

/* The typed results, each one block of the library's; null is ignored. */
KESTRANE_CLIENT_API void __cdecl KestraneFreeValue(KestraneValue* value);
KESTRANE_CLIENT_API void __cdecl KestraneFreeValueList(KestraneValueList* values);
KESTRANE_CLIENT_API void __cdecl KestraneFreeNameList(KestraneNameList* names);

#ifdef __cplusplus
}
#endif

#endif /* KESTRANE_CLIENT_H */
