/* kestrane-client-test.exe: an application written in C on KestraneClient.lib, against a
   kestrane-host.exe of its own: every function id, the refusals, several threads, and a
   host that hangs and then dies mid-session. Exit code 0 when every check held. */
#include "client/kestrane_client.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define KEY L"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\QV\\\\ClientLibrary"
#define HUNG_TIMEOUT_MS 1000u
#define LATE_MARGIN_MS 4000u  /* a loaded machine may wake the caller late */
#define THREADS 8
#define CALLS_PER_THREAD 10
#define OWN_SESSION_ROUNDS 3

static int failures;

#define CHECK(condition, ...)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            ++failures;                                                                  \
            fprintf(stderr, "%s:%d: failed: %s: ", __FILE__, __LINE__, #condition);     \
            fprintf(stderr, __VA_ARGS__);                                                \
            fputc('\n', stderr);                                                         \
        }                                                                                \
    } while (0)

static wchar_t endpoint[64];
static PROCESS_INFORMATION host;

static int StartHost(void) {
    wchar_t program[MAX_PATH];
    wchar_t commandLine[2 * MAX_PATH];
    STARTUPINFOW startup;
    DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
    while (length > 0 && program[length - 1] != L'\\') --length;
    program[length] = L'\0';
    wcscat(program, L"kestrane-host.exe");
    swprintf(endpoint, 64, L"kestrane-client-test-%lu", GetCurrentProcessId());
    swprintf(commandLine, 2 * MAX_PATH, L"\"%ls\" run --endpoint %ls --allow-stop", program, endpoint);
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &host)) return 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        KestraneSession* probe = NULL;
        if (KestraneOpenSession(endpoint, L"probe", 1000, &probe) == KESTRANE_OK) {
            KestraneCloseSession(probe);
            return 1;
        }
        Sleep(50);
    }
    return 0;
}

/* Runs one request and checks its status and, unless expected is null, its exact response. */
static void Expect(KestraneSession* session, long functionId, const wchar_t* request, unsigned long status,
                   const wchar_t* expected) {
    unsigned long got = 0;
    wchar_t* response = NULL;
    const KestraneResult result = KestraneExecute(session, functionId, request, &got, &response);
    CHECK(result == KESTRANE_OK, "id %ld: result %d, error %lu", functionId, (int)result, GetLastError());
    CHECK(got == status, "id %ld: status %s (0x%08lX), wanted %s", functionId, KestraneStatusName(got), got,
          KestraneStatusName(status));
    if (expected != NULL) {
        CHECK(response != NULL && wcscmp(response, expected) == 0, "id %ld: response %ls", functionId,
              response != NULL ? response : L"(null)");
    }
    KestraneFreeResponse(response);
}

static void EveryFunctionId(KestraneSession* session) {
    Expect(session, KESTRANE_WRITE_REGISTRY_KEY, L"{\"keyPath\":\"" KEY L"\\\\Sub\"}", KESTRANE_STATUS_SUCCESS,
           L"{\"result\":true}");
    Expect(session, KESTRANE_WRITE_REGISTRY_VALUE,
           L"{\"keyPath\":\"" KEY L"\",\"regKeyValueName\":\"S\",\"requestedDataType\":1,\"writeDataValue\":\"text\"}",
           KESTRANE_STATUS_SUCCESS, L"{\"result\":true}");
    Expect(session, KESTRANE_CHECK_REGISTRY_PATH_EXISTS, L"{\"keyPath\":\"" KEY L"\\\\Sub\"}",
           KESTRANE_STATUS_SUCCESS, L"{\"result\":true}");
    Expect(session, KESTRANE_READ_REGISTRY_VALUE, L"{\"keyPath\":\"" KEY L"\",\"regKeyValueName\":\"S\"}",
           KESTRANE_STATUS_SUCCESS, L"{\"result\":{\"S\":{\"dataType\":1,\"valueData\":\"text\"}}}");
    Expect(session, KESTRANE_READ_REGISTRY_VALUES, L"{\"keyPath\":\"" KEY L"\"}", KESTRANE_STATUS_SUCCESS,
           L"{\"result\":{\"S\":{\"dataType\":1,\"valueData\":\"text\"}}}");
    Expect(session, KESTRANE_READ_REGISTRY_SUB_KEYS, L"{\"keyPath\":\"" KEY L"\"}", KESTRANE_STATUS_SUCCESS,
           L"{\"result\":{\"Sub\":{}}}");
    Expect(session, KESTRANE_DELETE_REGISTRY_VALUE, L"{\"keyPath\":\"" KEY L"\",\"regKeyValueName\":\"S\"}",
           KESTRANE_STATUS_SUCCESS, NULL);
    Expect(session, KESTRANE_DELETE_REGISTRY_KEY, L"{\"keyPath\":\"" KEY L"\\\\Sub\"}", KESTRANE_STATUS_SUCCESS, NULL);
    Expect(session, KESTRANE_CHECK_REGISTRY_PATH_EXISTS, L"{\"keyPath\":\"" KEY L"\\\\Sub\"}",
           KESTRANE_STATUS_SUCCESS, L"{\"result\":false}");
    Expect(session, 7, L"{}", KESTRANE_STATUS_UNSUPPORTED_FUNCTION, L"{}");
    Expect(session, KESTRANE_WRITE_REGISTRY_KEY, L"{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\x\"}",
           KESTRANE_STATUS_NOT_WHITE_LISTED, NULL);

    /* Not JSON: answered, with no response text at all. */
    unsigned long status = 0;
    wchar_t* response = (wchar_t*)L"untouched";
    CHECK(KestraneExecute(session, 0, L"{\"keyPath\": ", &status, &response) == KESTRANE_OK, "malformed request");
    CHECK(status == KESTRANE_STATUS_INVALID_JSON && response == NULL, "status 0x%08lX", status);
    CHECK(strcmp(KestraneStatusName(KESTRANE_STATUS_NOT_WHITE_LISTED), "NotWhiteListed") == 0 &&
              strcmp(KestraneStatusName(KESTRANE_STATUS_INVALID_JSON), "InvalidJson") == 0 &&
              strcmp(KestraneStatusName(5), "WindowsError") == 0,
          "status names");
}

/* Refusals leave the session in use; a wrong argument never reaches the host. */
static void Refusals(KestraneSession* session) {
    const size_t units = (1u << 20) / sizeof(wchar_t) + 16;  /* over the host's 1 MiB */
    wchar_t* huge = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (units + 1) * sizeof(wchar_t));
    unsigned long status = 0;
    wchar_t* response = NULL;
    if (huge == NULL) return;
    wmemset(huge, L' ', units);
    huge[units] = L'\0';
    CHECK(KestraneExecute(session, 0, huge, &status, &response) == KESTRANE_REFUSED &&
              GetLastError() == ERROR_MESSAGE_EXCEEDS_MAX_SIZE,
          "oversized request: error %lu", GetLastError());
    HeapFree(GetProcessHeap(), 0, huge);
    CHECK(status == KESTRANE_STATUS_GENERAL_FAILURE && response == NULL, "outputs of a refused call");
    Expect(session, 0, L"{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\"}", KESTRANE_STATUS_SUCCESS,
           L"{\"result\":true}");

    KestraneSession* none = (KestraneSession*)1;
    CHECK(KestraneOpenSession(endpoint, NULL, 0, &none) == KESTRANE_INVALID_ARGUMENT && none == NULL, "null id");
    CHECK(KestraneOpenSession(endpoint, L"x", KESTRANE_MAX_TIMEOUT_MS + 1, &none) == KESTRANE_INVALID_ARGUMENT,
          "timeout over the maximum");
    CHECK(KestraneExecute(session, 0, NULL, &status, &response) == KESTRANE_INVALID_ARGUMENT &&
              GetLastError() == ERROR_INVALID_PARAMETER,
          "null request");
    CHECK(KestraneOpenSession(L"kestrane-nobody-listens", L"x", 0, &none) == KESTRANE_UNREACHABLE &&
              GetLastError() == RPC_S_SERVER_UNAVAILABLE,
          "no host: error %lu", GetLastError());
}

struct Worker {
    KestraneSession* shared; /* null: the thread opens a session of its own */
    HANDLE go;
    int failed;
};

static DWORD WINAPI WorkerMain(void* argument) {
    struct Worker* worker = (struct Worker*)argument;
    KestraneSession* session = worker->shared;
    WaitForSingleObject(worker->go, INFINITE);
    if (session == NULL && KestraneOpenSession(endpoint, L"worker", 0, &session) != KESTRANE_OK) {
        worker->failed = CALLS_PER_THREAD;
        return 0;
    }
    for (int i = 0; i < CALLS_PER_THREAD; ++i) {
        unsigned long status = 0;
        wchar_t* response = NULL;
        if (KestraneExecute(session, KESTRANE_READ_REGISTRY_VALUE,
                            L"{\"keyPath\":\"" KEY L"\",\"regKeyValueName\":\"T\"}", &status,
                            &response) != KESTRANE_OK ||
            status != 0 || response == NULL ||
            wcscmp(response, L"{\"result\":{\"T\":{\"dataType\":4,\"valueData\":7}}}") != 0) {
            ++worker->failed;
        }
        KestraneFreeResponse(response);
    }
    if (worker->shared == NULL) KestraneCloseSession(session);
    return 0;
}

/* THREADS threads at once, on one shared session or each opening one of its own. */
static void Threads(KestraneSession* shared) {
    struct Worker workers[THREADS];
    HANDLE threads[THREADS];
    HANDLE go = CreateEventW(NULL, TRUE, FALSE, NULL);
    for (int i = 0; i < THREADS; ++i) {
        workers[i].shared = shared;
        workers[i].go = go;
        workers[i].failed = 0;
        threads[i] = CreateThread(NULL, 0, WorkerMain, &workers[i], 0, NULL);
    }
    SetEvent(go);
    CHECK(WaitForMultipleObjects(THREADS, threads, TRUE, 60000) == WAIT_OBJECT_0, "threads did not end");
    for (int i = 0; i < THREADS; ++i) {
        CHECK(workers[i].failed == 0, "%s session: thread %d, %d of %d calls failed", shared ? "shared" : "own", i,
              workers[i].failed, CALLS_PER_THREAD);
        CloseHandle(threads[i]);
    }
    CloseHandle(go);
}

static KestraneResult TimedExecute(KestraneSession* session, DWORD* error, ULONGLONG* elapsedMs) {
    unsigned long status = 0;
    wchar_t* response = NULL;
    const ULONGLONG started = GetTickCount64();
    const KestraneResult result =
        KestraneExecute(session, 0, L"{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\"}", &status, &response);
    *error = GetLastError();
    *elapsedMs = GetTickCount64() - started;
    KestraneFreeResponse(response);
    return result;
}

/* The host hangs (every thread suspended), then dies, with sessions open. */
static void HostHangsThenDies(void) {
    typedef LONG(NTAPI * SuspendProcess)(HANDLE process);
    const SuspendProcess suspend = (SuspendProcess)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess");
    KestraneSession* hung = NULL;
    KestraneSession* killed = NULL;
    DWORD error = 0;
    ULONGLONG elapsed = 0;
    CHECK(suspend != NULL, "no NtSuspendProcess");
    CHECK(KestraneOpenSession(endpoint, L"hung", HUNG_TIMEOUT_MS, &hung) == KESTRANE_OK, "open");
    CHECK(KestraneOpenSession(endpoint, L"killed", HUNG_TIMEOUT_MS, &killed) == KESTRANE_OK, "open");
    if (suspend == NULL || hung == NULL || killed == NULL) return;
    CHECK(TimedExecute(hung, &error, &elapsed) == KESTRANE_OK, "call before the hang: error %lu", error);

    CHECK(suspend(host.hProcess) == 0, "suspending the host");
    CHECK(TimedExecute(hung, &error, &elapsed) == KESTRANE_UNREACHABLE && error == ERROR_TIMEOUT,
          "hung host: error %lu", error);
    CHECK(elapsed + 50 >= HUNG_TIMEOUT_MS && elapsed <= HUNG_TIMEOUT_MS + LATE_MARGIN_MS, "answered after %llu ms",
          elapsed);
    /* The session is lost: answered at once from now on. */
    CHECK(TimedExecute(hung, &error, &elapsed) == KESTRANE_UNREACHABLE && error == ERROR_TIMEOUT && elapsed < 500,
          "lost session: error %lu after %llu ms", error, elapsed);

    TerminateProcess(host.hProcess, 9);
    WaitForSingleObject(host.hProcess, 10000);
    CHECK(TimedExecute(killed, &error, &elapsed) == KESTRANE_UNREACHABLE && error != ERROR_TIMEOUT,
          "dead host: error %lu after %llu ms", error, elapsed);
    KestraneSession* late = NULL;
    CHECK(KestraneOpenSession(endpoint, L"late", HUNG_TIMEOUT_MS, &late) == KESTRANE_UNREACHABLE &&
              GetLastError() == RPC_S_SERVER_UNAVAILABLE && late == NULL,
          "open after the host died: error %lu", GetLastError());
    KestraneCloseSession(hung);
    KestraneCloseSession(killed);
}

int wmain(void) {
    KestraneSession* session = NULL;
    if (!StartHost()) {
        fprintf(stderr, "kestrane-host.exe did not start listening\n");
        if (host.hProcess != NULL) TerminateProcess(host.hProcess, 9);
        return 1;
    }
    CHECK(KestraneOpenSession(endpoint, L"kestrane-client-test", 0, &session) == KESTRANE_OK, "open: error %lu",
          GetLastError());
    if (session != NULL) {
        EveryFunctionId(session);
        Refusals(session);
        Expect(session, KESTRANE_WRITE_REGISTRY_VALUE,
               L"{\"keyPath\":\"" KEY L"\",\"regKeyValueName\":\"T\",\"requestedDataType\":4,\"writeDataValue\":7}",
               KESTRANE_STATUS_SUCCESS, NULL);
        Threads(session);
        unsigned long live = 0, calls = 0;
        CHECK(KestraneHostStatus(session, &live, &calls) == KESTRANE_OK && live == 1 && calls == 0,
              "host status: %lu sessions, %lu calls", live, calls);
        KestraneCloseSession(session);
    }
    /* With no session open in this process, the threads' opens are its first
       connections to the host, made at the same moment. */
    for (int round = 0; round < OWN_SESSION_ROUNDS; ++round) Threads(NULL);
    if (KestraneOpenSession(endpoint, L"cleanup", 0, &session) == KESTRANE_OK) {
        Expect(session, KESTRANE_DELETE_REGISTRY_KEY, L"{\"keyPath\":\"" KEY L"\"}", KESTRANE_STATUS_SUCCESS, NULL);
        KestraneCloseSession(session);
    }
    HostHangsThenDies();
    TerminateProcess(host.hProcess, 9);
    CloseHandle(host.hThread);
    CloseHandle(host.hProcess);
    printf("kestrane-client-test: %d failed checks\n", failures);
    return failures == 0 ? 0 : 1;
}
