/* kestrane-client-test.exe: an application written in C on KestraneClient.lib, against a
   kestrane-host.exe of its own: what the typed calls hand back that kestrane-cli does not show
   (HostEndToEndTest drives the library through kestrane-cli): every type's edge values written
   and read back, names a request writer must escape, no answer from a failed call, the library's
   own refusals, several threads, a host that hangs and then dies mid-session; and against
   kestrane-hostile-server.exe, answers not to be taken. Exit code 0 when every check held. */
#include "client/kestrane_client.h"

#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define KEY L"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV\\ClientLibrary"
#define HUNG_TIMEOUT_MS 1000u
#define LATE_MARGIN_MS 4000u  /* a loaded machine may wake the caller late */
#define THREADS 8
#define CALLS_PER_THREAD 10
#define HOSTILE_ANSWER_BYTES (50000000u * sizeof(wchar_t)) /* the hostile server's longest */
#define COUNT(array) (sizeof(array) / sizeof((array)[0]))

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
static const KestraneValue seven = {REG_DWORD, {.dword = 7}};

/* Starts a program of this build (the command line "program arguments"; the program is found
   first in this program's folder), and waits until a session opens on the endpoint it serves. */
static int StartServer(wchar_t* commandLine, const wchar_t* served, PROCESS_INFORMATION* started) {
    STARTUPINFOW startup = {.cb = sizeof startup};
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, started)) return 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        KestraneSession* probe = NULL;
        if (KestraneOpenSession(served, L"probe", 1000, &probe) == KESTRANE_OK) {
            KestraneCloseSession(probe);
            return 1;
        }
        Sleep(50);
    }
    return 0;
}

static void StopServer(PROCESS_INFORMATION* started) {
    if (started->hProcess == NULL) return;
    TerminateProcess(started->hProcess, 9);
    WaitForSingleObject(started->hProcess, 10000);
    CloseHandle(started->hThread);
    CloseHandle(started->hProcess);
    started->hProcess = NULL;
}

/* Checks a call's result, its last error and the status it left in the caller's `status`. */
#define EXPECT_CALL(call, result, error, wanted)                                                               \
    do {                                                                                                       \
        const KestraneResult result_ = (call);                                                                 \
        const DWORD error_ = GetLastError();                                                                   \
        CHECK(result_ == (result) && error_ == (error) && status == (wanted),                                  \
              "result %d, error %lu, status %s (0x%08lX)", (int)result_, error_, KestraneStatusName(status),  \
              status);                                                                                         \
    } while (0)
#define ANSWERED(call, wanted) EXPECT_CALL(call, KESTRANE_OK, 0, wanted)
#define REFUSED_ANSWER(call) EXPECT_CALL(call, KESTRANE_REFUSED, ERROR_INVALID_DATA, KESTRANE_STATUS_GENERAL_FAILURE)

static int SameValue(const KestraneValue* a, const KestraneValue* b) {
    if (a == NULL || b == NULL || a->type != b->type) return 0;
    switch (a->type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return wcscmp(a->data.text, b->data.text) == 0;
    case REG_DWORD: return a->data.dword == b->data.dword;
    case REG_QWORD: return a->data.qword == b->data.qword;
    case REG_BINARY:
        return a->data.binary.size == b->data.binary.size &&
               memcmp(a->data.binary.bytes, b->data.binary.bytes, a->data.binary.size) == 0;
    case REG_MULTI_SZ:
        if (a->data.multi.count != b->data.multi.count) return 0;
        for (unsigned long i = 0; i < a->data.multi.count; ++i) {
            if (wcscmp(a->data.multi.items[i], b->data.multi.items[i]) != 0) return 0;
        }
        return 1;
    default: return 0;
    }
}

/* Every writable type, its edge values included, reads back as written. */
static void EveryTypeRoundTrips(KestraneSession* session) {
    static const wchar_t* const multi[] = {L"a", L"", L"b\u00e9c"};
    unsigned char bytes[49]; /* more than one 64-character line of Base64 */
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = (unsigned char)(i * 37 + 255);
    const KestraneValue cases[] = {
        {REG_SZ, {.text = L""}},
        {REG_SZ, {.text = L"\u00fcnic\u00f6de \U0001F600"}},
        {REG_EXPAND_SZ, {.text = L"%SystemRoot%\\x"}},
        {REG_DWORD, {.dword = 0xFFFFFFFFu}},
        {REG_DWORD, {.dword = 0x80000000u}},
        {REG_QWORD, {.qword = 0xFFFFFFFFFFFFFFFFull}},
        {REG_QWORD, {.qword = 0x8000000000000000ull}},
        {REG_BINARY, {.binary = {bytes, sizeof bytes}}},
        {REG_MULTI_SZ, {.multi = {multi, COUNT(multi)}}},
        {REG_MULTI_SZ, {.multi = {NULL, 0}}}, /* the empty list */
    };
    for (size_t i = 0; i < COUNT(cases); ++i) {
        unsigned long status = 0;
        KestraneValue* read = NULL;
        ANSWERED(KestraneWriteValue(session, KEY, L"R", &cases[i], &status), KESTRANE_STATUS_SUCCESS);
        ANSWERED(KestraneReadValue(session, KEY, L"R", 0, &status, &read), KESTRANE_STATUS_SUCCESS);
        CHECK(SameValue(read, &cases[i]), "case %zu (type %lu) read back differs", i, cases[i].type);
        KestraneFreeValue(read);
    }
}

/* Names that would reshape a request built by hand reach the registry as given, and
   nothing else is written. */
static void HostileNamesStayNames(KestraneSession* session) {
    static const wchar_t* const names[] = {
        L"quote\"d",
        L"back\\slash\\\\",
        L"ctl\x01\t\n\x1f",
        L"}",
        L"x\",\"requestedDataType\":4,\"writeDataValue\":7,\"regKeyValueName\":\"y",
    };
    unsigned long status = 0;
    KestraneValueList* values = NULL;
    KestraneNameList* subkeys = NULL;
    for (size_t i = 0; i < COUNT(names); ++i) {
        const KestraneValue text = {REG_SZ, {.text = names[i]}};
        ANSWERED(KestraneWriteValue(session, KEY L"\\Names", names[i], &text, &status), KESTRANE_STATUS_SUCCESS);
    }
    ANSWERED(KestraneCreateKey(session, KEY L"\\Names\\sub\"}{", &status), KESTRANE_STATUS_SUCCESS);
    ANSWERED(KestraneReadValues(session, KEY L"\\Names", 0, &status, &values), KESTRANE_STATUS_SUCCESS);
    CHECK(values != NULL && values->count == COUNT(names), "%lu values", values != NULL ? values->count : 0);
    for (unsigned long i = 0; values != NULL && i < values->count; ++i) {
        const KestraneNamedValue* item = &values->items[i];
        CHECK(item->value.type == REG_SZ && wcscmp(item->name, item->value.data.text) == 0, "value %ls", item->name);
    }
    KestraneFreeValueList(values);
    ANSWERED(KestraneListSubkeys(session, KEY L"\\Names", &status, &subkeys), KESTRANE_STATUS_SUCCESS);
    CHECK(subkeys != NULL && subkeys->count == 1 && wcscmp(subkeys->names[0], L"sub\"}{") == 0, "subkeys");
    KestraneFreeNameList(subkeys);
    ANSWERED(KestraneDeleteKey(session, KEY L"\\Names\\sub\"}{", &status, NULL), KESTRANE_STATUS_SUCCESS);
    ANSWERED(KestraneDeleteKey(session, KEY L"\\Names", &status, NULL), KESTRANE_STATUS_SUCCESS);
}

/* A failed call hands back no answer, and a delete of a missing key says it found none (one
   that finds its key: HostEndToEndTest); what the library refuses never leaves it. (The host's
   refusals through kestrane-cli are HostEndToEndTest's too.) */
static void FailuresAndRefusals(KestraneSession* session) {
    static wchar_t huge[KESTRANE_MAX_REQUEST_CHARS + 2];
    static wchar_t longId[KESTRANE_MAX_CLIENT_ID_CHARS * 2 + 1];
    unsigned long status = 0;
    int flag = -1;
    wchar_t* response = NULL;
    KestraneValue* value = (KestraneValue*)1;
    KestraneValueList* values = (KestraneValueList*)1;
    KestraneSession* nothing = (KestraneSession*)1;
    const KestraneValue none = {REG_NONE, {.dword = 0}};

    ANSWERED(KestraneReadValue(session, KEY, L"Missing", 0, &status, &value), KESTRANE_STATUS_GENERAL_FAILURE);
    CHECK(value == NULL, "value of a failed read");
    ANSWERED(KestraneReadValues(session, KEY L"\\Missing", 0, &status, &values), KESTRANE_STATUS_OPEN_KEY_FAILED);
    CHECK(values == NULL, "values of a failed read");
    ANSWERED(KestraneKeyExists(session, L"HKEY_NOWHERE\\x", &status, &flag), KESTRANE_STATUS_ROOT_KEY_NOT_FOUND);
    CHECK(flag == 0, "exists under no root");
    flag = -1;
    ANSWERED(KestraneDeleteKey(session, KEY L"\\Missing", &status, &flag), KESTRANE_STATUS_SUCCESS);
    CHECK(flag == 0, "a missing key is not deleted: %d", flag);

    EXPECT_CALL(KestraneWriteValue(session, KEY, L"N", &none, &status), KESTRANE_INVALID_ARGUMENT,
                ERROR_INVALID_PARAMETER, KESTRANE_STATUS_GENERAL_FAILURE); /* a type the host does not write */
    EXPECT_CALL(KestraneReadValue(session, KEY, NULL, 0, &status, &value), KESTRANE_INVALID_ARGUMENT,
                ERROR_INVALID_PARAMETER, KESTRANE_STATUS_GENERAL_FAILURE);
    CHECK(KestraneOpenSession(endpoint, NULL, 0, &nothing) == KESTRANE_INVALID_ARGUMENT && nothing == NULL, "null id");
    CHECK(KestraneOpenSession(endpoint, L"x", KESTRANE_MAX_TIMEOUT_MS + 1, &nothing) == KESTRANE_INVALID_ARGUMENT,
          "timeout over the maximum");
    /* The host takes 64 units of id and no more: a longer one is cut, not refused. */
    wmemset(longId, L'i', KESTRANE_MAX_CLIENT_ID_CHARS * 2);
    CHECK(KestraneOpenSession(endpoint, longId, 0, &nothing) == KESTRANE_OK, "long id: error %lu", GetLastError());
    KestraneCloseSession(nothing);

    /* A raw request over the bound is not sent. */
    wmemset(huge, L' ', KESTRANE_MAX_REQUEST_CHARS + 1);
    CHECK(KestraneExecute(session, 0, huge, &status, &response) == KESTRANE_REFUSED &&
              GetLastError() == ERROR_MESSAGE_EXCEEDS_MAX_SIZE && response == NULL,
          "oversized request: error %lu", GetLastError());
}

static SIZE_T WorkingSet(int peak) {
    PROCESS_MEMORY_COUNTERS counters = {.cb = sizeof counters};
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

/* A server that answers what the host never would: each answer refused, the session
   still in use, and the client's memory bounded against 50 000 000 characters. */
static void HostileServerRefused(void) {
    PROCESS_INFORMATION hostile = {0};
    wchar_t served[64];
    wchar_t program[128];
    KestraneSession* session = NULL;
    unsigned long status = 0;
    int flag = -1;
    KestraneValue* value = (KestraneValue*)1;
    KestraneValueList* values = (KestraneValueList*)1;
    KestraneNameList* names = NULL;
    wchar_t* response = (wchar_t*)1;
    SIZE_T before, grown;
    swprintf(served, COUNT(served), L"kestrane-hostile-%lu", GetCurrentProcessId());
    swprintf(program, COUNT(program), L"kestrane-hostile-server.exe %ls", served);
    CHECK(StartServer(program, served, &hostile), "hostile server");
    if (KestraneOpenSession(served, L"victim", 60000, &session) != KESTRANE_OK) {
        CHECK(0, "open on the hostile server: error %lu", GetLastError());
        StopServer(&hostile);
        return;
    }
    REFUSED_ANSWER(KestraneKeyExists(session, KEY, &status, &flag)); /* not JSON */
    CHECK(flag == 0, "flag of a refused answer");
    REFUSED_ANSWER(KestraneReadValue(session, KEY, L"v", 0, &status, &value)); /* the wrong shape */
    CHECK(value == NULL, "value of a refused answer");
    REFUSED_ANSWER(KestraneCreateKey(session, KEY, &status)); /* one character over the bound */
    ANSWERED(KestraneListSubkeys(session, KEY, &status, &names), KESTRANE_STATUS_SUCCESS);
    CHECK(names != NULL && names->count == 1 && wcslen(names->names[0]) == KESTRANE_MAX_ANSWER_CHARS - 18,
          "an answer at the bound is taken");
    KestraneFreeNameList(names);

    before = WorkingSet(0);
    REFUSED_ANSWER(KestraneReadValues(session, KEY, 0, &status, &values)); /* 50 000 000 characters */
    CHECK(values == NULL, "values of a refused answer");
    EXPECT_CALL(KestraneExecute(session, KESTRANE_READ_REGISTRY_VALUES, L"{}", &status, &response), KESTRANE_REFUSED,
                ERROR_INVALID_DATA, KESTRANE_STATUS_GENERAL_FAILURE);
    CHECK(response == NULL, "response of a refused raw request");
    /* The runtime receives the message whole (under Wine: its 100 MB); the library must
       not add a copy of its own, as it once did (200 MB). */
    grown = WorkingSet(1) - before;
    printf("kestrane-client-test: against 50 000 000 characters the working set grew %.1f MB at its peak\n",
           (double)grown / 1e6);
    CHECK(grown < HOSTILE_ANSWER_BYTES * 3 / 2, "the client held %.1f MB", (double)grown / 1e6);
    KestraneCloseSession(session);
    StopServer(&hostile);
}

struct Worker {
    KestraneSession* session;
    HANDLE go;
    int failed;
};

static DWORD WINAPI WorkerMain(void* argument) {
    struct Worker* worker = (struct Worker*)argument;
    WaitForSingleObject(worker->go, INFINITE);
    for (int i = 0; i < CALLS_PER_THREAD; ++i) {
        unsigned long status = 0;
        KestraneValue* value = NULL;
        const KestraneResult result = KestraneReadValue(worker->session, KEY, L"T", 0, &status, &value);
        if (result != KESTRANE_OK || !SameValue(value, &seven)) ++worker->failed;
        KestraneFreeValue(value);
    }
    return 0;
}

/* THREADS threads at once on one session, which stays one session on the host. (Threads
   each opening a session of their own at once: HostEndToEndTest's amplification readers.) */
static void ThreadsShareASession(KestraneSession* session) {
    struct Worker workers[THREADS];
    HANDLE threads[THREADS];
    HANDLE go = CreateEventW(NULL, TRUE, FALSE, NULL);
    unsigned long status = 0, live = 0, calls = 0;
    ANSWERED(KestraneWriteValue(session, KEY, L"T", &seven, &status), KESTRANE_STATUS_SUCCESS);
    for (int i = 0; i < THREADS; ++i) {
        workers[i].session = session;
        workers[i].go = go;
        workers[i].failed = 0;
        threads[i] = CreateThread(NULL, 0, WorkerMain, &workers[i], 0, NULL);
    }
    SetEvent(go);
    CHECK(WaitForMultipleObjects(THREADS, threads, TRUE, 60000) == WAIT_OBJECT_0, "threads did not end");
    for (int i = 0; i < THREADS; ++i) {
        CHECK(workers[i].failed == 0, "thread %d: %d of %d calls failed", i, workers[i].failed, CALLS_PER_THREAD);
        CloseHandle(threads[i]);
    }
    CloseHandle(go);
    CHECK(KestraneHostStatus(session, &live, &calls) == KESTRANE_OK && live == 1 && calls == 0,
          "host status: %lu sessions, %lu calls", live, calls);
}

/* One call on session: its result, its last error and how long it took. */
static KestraneResult TimedCall(KestraneSession* session, DWORD* error, ULONGLONG* elapsedMs) {
    unsigned long status = 0;
    int flag = 0;
    const ULONGLONG started = GetTickCount64();
    const KestraneResult result = KestraneKeyExists(session, KEY, &status, &flag);
    *error = GetLastError();
    *elapsedMs = GetTickCount64() - started;
    return result;
}

/* The host hangs (every thread suspended), then dies, with sessions open. (A session
   opened after it died: HostThroughEndpointMap.) */
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
    CHECK(TimedCall(hung, &error, &elapsed) == KESTRANE_OK, "call before the hang: error %lu", error);

    CHECK(suspend(host.hProcess) == 0, "suspending the host");
    CHECK(TimedCall(hung, &error, &elapsed) == KESTRANE_UNREACHABLE && error == ERROR_TIMEOUT,
          "hung host: error %lu", error);
    CHECK(elapsed + 50 >= HUNG_TIMEOUT_MS && elapsed <= HUNG_TIMEOUT_MS + LATE_MARGIN_MS, "answered after %llu ms",
          elapsed);
    /* The session is lost: answered at once from now on. */
    CHECK(TimedCall(hung, &error, &elapsed) == KESTRANE_UNREACHABLE && error == ERROR_TIMEOUT && elapsed < 500,
          "lost session: error %lu after %llu ms", error, elapsed);

    TerminateProcess(host.hProcess, 9);
    WaitForSingleObject(host.hProcess, 10000);
    CHECK(TimedCall(killed, &error, &elapsed) == KESTRANE_UNREACHABLE && error != ERROR_TIMEOUT,
          "dead host: error %lu after %llu ms", error, elapsed);
    KestraneCloseSession(hung);
    KestraneCloseSession(killed);
}

int wmain(void) {
    KestraneSession* session = NULL;
    unsigned long status = 0;
    wchar_t program[128];
    /* First, while this process's peak working set is still its own. */
    HostileServerRefused();
    swprintf(endpoint, COUNT(endpoint), L"kestrane-client-test-%lu", GetCurrentProcessId());
    swprintf(program, COUNT(program), L"kestrane-host.exe run --endpoint %ls --allow-stop", endpoint);
    if (!StartServer(program, endpoint, &host)) {
        fprintf(stderr, "kestrane-host.exe did not start listening\n");
        StopServer(&host);
        return 1;
    }
    CHECK(KestraneOpenSession(endpoint, L"kestrane-client-test", 0, &session) == KESTRANE_OK, "open: error %lu",
          GetLastError());
    if (session != NULL) {
        EveryTypeRoundTrips(session);
        HostileNamesStayNames(session);
        FailuresAndRefusals(session);
        ThreadsShareASession(session);
        ANSWERED(KestraneDeleteKey(session, KEY, &status, NULL), KESTRANE_STATUS_SUCCESS);
        KestraneCloseSession(session);
    }
    HostHangsThenDies();
    StopServer(&host);
    printf("kestrane-client-test: %d failed checks\n", failures);
    return failures == 0 ? 0 : 1;
}
