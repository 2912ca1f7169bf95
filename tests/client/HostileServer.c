/* kestrane-hostile-server.exe ENDPOINT: a server of the host's interface, under this
   user, whose answers (by function id) no client should take, but for one listing exactly
   at the bound. It runs until killed. */
#include "KestraneHost.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define HOSTILE_LONG_CHARS 50000000u
#define BOUND_CHARS 65536u

static int sessionToken; /* a context handle must be non-null; nothing is behind it */

static wchar_t* Answer(const wchar_t* text) {
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    wchar_t* copy = (wchar_t*)MIDL_user_allocate(bytes);
    if (copy != NULL) memcpy(copy, text, bytes);
    return copy;
}

/* {"result":{"xxx...":{}}} of exactly length characters. */
static wchar_t* Listing(size_t length) {
    static const wchar_t head[] = L"{\"result\":{\"";
    static const wchar_t tail[] = L"\":{}}}";
    const size_t fixed = wcslen(head) + wcslen(tail);
    wchar_t* text = (wchar_t*)MIDL_user_allocate((length + 1) * sizeof(wchar_t));
    if (text == NULL) return NULL;
    wcscpy(text, head);
    wmemset(text + wcslen(head), L'x', length - fixed);
    wcscpy(text + length - wcslen(tail), tail);
    return text;
}

LONG OpenSession(handle_t binding, ULONG idUnits, const wchar_t* id, KestraneSession* session) {
    (void)binding, (void)idUnits, (void)id;
    *session = &sessionToken;
    return 0;
}

LONG Execute(KestraneSession session, LONG functionId, ULONG requestUnits, const wchar_t* request, ULONG* status,
             wchar_t** response) {
    (void)session, (void)requestUnits, (void)request;
    *status = 0;
    switch (functionId) {
    case 0: *response = Answer(L"{\"result\":tru"); break; /* not JSON */
    case 4: /* the wrong shape: a REG_DWORD whose data is a string */
        *response = Answer(L"{\"result\":{\"v\":{\"dataType\":4,\"valueData\":\"seven\"}}}");
        break;
    case 2: *response = Listing(BOUND_CHARS + 1); break; /* one over the bound */
    case 128: *response = Listing(BOUND_CHARS); break;   /* at the bound: to be taken */
    case 8: *response = Listing(HOSTILE_LONG_CHARS); break;
    default: *response = Answer(L"{}"); break;
    }
    return *response != NULL ? 0 : ERROR_NOT_ENOUGH_MEMORY;
}

LONG CloseSession(KestraneSession* session) {
    *session = NULL;
    return 0;
}

LONG HostStatus(handle_t binding, ULONG* liveSessions, ULONG* callsInFlight) {
    (void)binding;
    *liveSessions = 0;
    *callsInFlight = 0;
    return 0;
}

LONG StopHost(handle_t binding) {
    (void)binding;
    return ERROR_ACCESS_DENIED;
}

LONG ServerIdentity(handle_t binding, ULONG* processId) {
    (void)binding;
    *processId = GetCurrentProcessId();
    return 0;
}

void __RPC_USER KestraneSession_rundown(KestraneSession session) { (void)session; }

int wmain(int argc, wchar_t** argv) {
    RPC_STATUS status;
    if (argc != 2) {
        fprintf(stderr, "usage: kestrane-hostile-server.exe ENDPOINT\n");
        return 2;
    }
    status = RpcServerUseProtseqEpW((RPC_WSTR)L"ncalrpc", 4, (RPC_WSTR)argv[1], NULL);
    if (status == RPC_S_OK) status = RpcServerRegisterIf(KestraneHost_v1_0_s_ifspec, NULL, NULL);
    if (status == RPC_S_OK) status = RpcServerListen(1, 4, FALSE);
    fprintf(stderr, "kestrane-hostile-server: cannot serve %ls (%ld)\n", argv[1], status);
    return 1;
}
