/* A service host written the way a C program sees a module built for MSVC hosts: the
 * factory, and the slot tables of the service, the access policy and the callback
 * object spelled out by hand, as a COM client does. It drives every slot and checks
 * that each callback object it hands over is destroyed exactly once, and freed only
 * when it lives outside the object. Exit status 0 when everything held; each fault
 * is printed. Under Windows the module is KestraneService.dll loaded by name;
 * natively it is the same code linked in. */
#define __USE_MINGW_ANSI_STDIO 1 /* C99 formats from mingw's own printf */
#define _POSIX_C_SOURCE 200809L  /* setenv, nanosleep */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#ifdef _WIN32
#include <malloc.h>
#include <windows.h>
#define WIDEN(text) L##text
typedef WCHAR Unit;
#else
#include <uchar.h>
#define WIDEN(text) u##text
typedef char16_t Unit;
#endif
#define TEXT16(text) WIDEN(text) /* after expansion, so macros and joined literals work */

typedef struct Service Service;
typedef struct Context Context;
typedef struct Policy Policy;
typedef struct Target Target;

typedef struct {
    void* (*DeletingDestructor)(Service* self, unsigned int flags);
    uint32_t (*CreateClientContext)(Service* self, const Unit* clientId, Context** outContext);
    uint32_t (*ReleaseClientContext)(Service* self, Context** context);
    uint32_t (*ExecuteCommand)(Service* self, Context* context, int32_t functionId, const Unit* message,
                               Unit** outString, void* callback, Policy* accessPolicy);
    void (*FreeOutString)(Service* self, Unit* buffer);
    void (*Reserved1)(Service* self);
    void (*Reserved2)(Service* self);
    void (*Reserved3)(Service* self);
    bool (*Reserved4)(Service* self);
    void (*Reserved5)(Service* self);
    void (*Reserved6)(Service* self);
} ServiceSlots;
struct Service {
    const ServiceSlots* slots;
};

typedef struct {
    void* (*DeletingDestructor)(Policy* self, unsigned int flags);
    bool (*IsWhiteListExempt)(Policy* self);
} PolicySlots;
struct Policy {
    const PolicySlots* slots;
    bool answer;
    int asked;
};

/* MSVC's std::function on x64: 56 bytes of storage, then the target's address. */
typedef struct {
    _Alignas(8) unsigned char storage[56];
    Target* target;
} Callback;
_Static_assert(sizeof(Callback) == 64 && offsetof(Callback, target) == 56, "MSVC's std::function layout");

/* The target's slots, those of MSVC's _Func_base: the module may call only DeleteThis. */
typedef struct {
    Target* (*Copy)(const Target* self, void* where);
    Target* (*Move)(Target* self, void* where);
    void (*DoCall)(Target* self, const Unit** text);
    const void* (*TargetType)(const Target* self);
    void (*DeleteThis)(Target* self, bool deallocate);
    const void* (*Get)(const Target* self);
} TargetSlots;

typedef struct {
    int deletes;     /* DeleteThis calls */
    int wrongFlags;  /* DeleteThis calls whose deallocate flag did not match where the target lives */
} Tally;
struct Target {
    const TargetSlots* slots;
    Tally* tally;
    bool onHeap;
};

static int failures;

#define EXPECT(condition, ...)                                         \
    do {                                                               \
        if (!(condition)) {                                            \
            ++failures;                                                \
            fprintf(stderr, "line %d: %s: ", __LINE__, #condition);    \
            fprintf(stderr, __VA_ARGS__);                              \
            fputc('\n', stderr);                                       \
        }                                                              \
    } while (0)

/* The slots the module must never call are left null: a call through one ends this program. */
static bool PolicyAnswer(Policy* self) {
    ++self->asked;
    return self->answer;
}
static const PolicySlots policySlots = {NULL, PolicyAnswer};

static void TargetDelete(Target* self, bool deallocate) {
    ++self->tally->deletes;
    if (deallocate != self->onHeap) ++self->tally->wrongFlags;
    if (self->onHeap) free(self);
}
static const TargetSlots targetSlots = {NULL, NULL, NULL, NULL, TargetDelete, NULL};

enum CallbackKind { kEmpty, kInStorage, kOnHeap };
static const char* const kindNames[] = {"empty", "in storage", "on heap"};

static void MakeCallback(Callback* callback, enum CallbackKind kind, Tally* tally) {
    memset(callback, 0, sizeof *callback);
    if (kind == kEmpty) return;
    Target* target = kind == kOnHeap ? malloc(sizeof *target) : (Target*)(void*)callback->storage;
    if (!target) abort();
    target->slots = &targetSlots;
    target->tally = tally;
    target->onHeap = kind == kOnHeap;
    callback->target = target;
}

static bool SameText(const Unit* got, const char* want) {
    for (; *want; ++got, ++want)
        if (*got != (Unit)*want) return false;
    return *got == 0;
}

/* One request through ExecuteCommand. Text "-" means the response pointer is left
 * untouched, NULL that it is set to null, "*" any text. */
typedef struct {
    int32_t id;
    const Unit* message;
    bool noContext;
    Policy* policy;
    uint32_t status;
    const char* text;
    int asks;
} Request;

static void Execute(Service* service, Context* context, const Request* r, int index, enum CallbackKind kind) {
    Tally tally = {0, 0};
    Callback callback;
    MakeCallback(&callback, kind, &tally);
    Unit* sentinel = (Unit*)&sentinel;
    Unit* out = sentinel;
    const int asked = r->policy->asked;
    const uint32_t status = service->slots->ExecuteCommand(service, r->noContext ? NULL : context, r->id, r->message,
                                                           &out, &callback, r->policy);
    EXPECT(status == r->status && tally.deletes == (kind == kEmpty ? 0 : 1) && tally.wrongFlags == 0 &&
               r->policy->asked - asked == r->asks,
           "request %d, %s callback: status 0x%x, destroyed %d times, %d wrong deallocate flags, policy asked %d times",
           index, kindNames[kind], status, tally.deletes, tally.wrongFlags, r->policy->asked - asked);
    if (!r->text) {
        EXPECT(out == NULL, "request %d: a response where none belongs", index);
    } else if (strcmp(r->text, "-") == 0) {
        EXPECT(out == sentinel, "request %d: the response pointer was touched", index);
    } else {
        EXPECT(out && out != sentinel && (strcmp(r->text, "*") == 0 || SameText(out, r->text)),
               "request %d: not the response %s", index, r->text);
        if (out != sentinel) service->slots->FreeOutString(service, out);
    }
}

/* Everything a host does in its life with one service, once. */
static void Tour(Service* service) {
    const ServiceSlots* slots = service->slots;
    Context* context = (Context*)&context;
    EXPECT(slots->CreateClientContext(service, TEXT16("ten-chars!"), NULL) == 0, "null outContext");
    EXPECT(slots->CreateClientContext(service, NULL, &context) == 0 && context && context != (Context*)&context,
           "null client id gives a context");
    EXPECT(slots->ReleaseClientContext(service, &context) == 0, "release");
    Context* none = NULL;
    EXPECT(slots->ReleaseClientContext(service, &none) == 0, "release of a null context");
    EXPECT(slots->ReleaseClientContext(service, NULL) == 0, "release through a null address");
    slots->CreateClientContext(service, TEXT16("c-host-client-id-longer-than-sixty-four-units-"
                                               "which-the-module-cuts-to-size"), &context);

    /* Each way out of ExecuteCommand, and a handler asking the policy through its slot. What
     * each handler answers is the C++ suite's; here it is the objects' layout that is proven. */
    Policy no = {&policySlots, false, 0}, yes = {&policySlots, true, 0};
#define OUTSIDE TEXT16("{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\"}")
    const Request requests[] = {
        {0, TEXT16("{}"), true, &no, 0x20000002, "-", 0},   /* no context */
        {0, NULL, false, &no, 0x20000002, "-", 0},          /* no message */
        {4, TEXT16("{"), false, &no, 0x2000000B, NULL, 0},  /* not JSON */
        {3, TEXT16("{}"), false, &no, 0x20000001, "{}", 0}, /* no such function */
        /* a key outside the read list: refused unless the policy exempts the call */
        {128, OUTSIDE, false, &no, 0x20000009, "*", 1},
        {128, OUTSIDE, false, &yes, 0, "*", 1},
    };
#undef OUTSIDE
    for (enum CallbackKind kind = kEmpty; kind <= kOnHeap; ++kind)
        for (size_t i = 0; i < sizeof requests / sizeof requests[0]; ++i)
            Execute(service, context, &requests[i], (int)i, kind);
    slots->ReleaseClientContext(service, &context);

    slots->FreeOutString(service, NULL);
    slots->Reserved1(service);
    slots->Reserved2(service);
    slots->Reserved3(service);
    EXPECT(slots->Reserved4(service), "Reserved4 answers true");
    slots->Reserved5(service);
    slots->Reserved6(service);
}

#ifdef _WIN32
/* Bytes in use on the C runtime's heap, which the module shares with this program. */
static size_t HeapInUse(void) {
    size_t bytes = 0;
    _HEAPINFO entry = {0};
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY) bytes += entry._size;
    return bytes;
}
#endif

#ifndef _WIN32
extern Service* QVCreateService(void);
#endif

/* A host built to the contract knows nothing of the logging library: it never asks for the
 * log to be written. Three refused requests, 1.5 s of quiet, and all their lines are in the file. */
static void LogsWithoutFlush(Service* service, const char* file) {
    static const int32_t ids[] = {3, 5, 6};
    Context* context = NULL;
    service->slots->CreateClientContext(service, TEXT16("log-check"), &context);
    Policy no = {&policySlots, false, 0};
    for (int i = 0; i < 3; ++i) {
        const Request request = {ids[i], TEXT16("{}"), false, &no, 0x20000001, "{}", 0};
        Execute(service, context, &request, i, kEmpty);
    }
    service->slots->ReleaseClientContext(service, &context);
#ifdef _WIN32
    Sleep(1500);
#else
    struct timespec wait = {1, 500000000};
    nanosleep(&wait, NULL);
#endif
    static char text[1 << 16];
    FILE* in = fopen(file, "rb");
    const size_t size = in ? fread(text, 1, sizeof text - 1, in) : 0;
    if (in) fclose(in);
    text[size] = 0;
    for (int i = 0; i < 3; ++i) {
        char wanted[64];
        snprintf(wanted, sizeof wanted, "Unsupported Function call %d", (int)ids[i]);
        EXPECT(strstr(text, wanted) != NULL, "\"%s\" is not in %s", wanted, file);
    }
}

int main(int argc, char** argv) {
    typedef Service* (*Factory)(void);
    /* --log-file FILE: only the check above, logging to FILE (before the module is loaded). */
    const char* logFile = argc == 3 && strcmp(argv[1], "--log-file") == 0 ? argv[2] : NULL;
    if (logFile) {
        remove(logFile);
#ifdef _WIN32
        /* The C runtime's own copy of the environment, which the library reads. */
        static char setting[1024];
        snprintf(setting, sizeof setting, "KESTRANE_LOG=%s", logFile);
        _putenv(setting);
#else
        setenv("KESTRANE_LOG", logFile, 1);
#endif
    }
#ifdef _WIN32
    HMODULE module = LoadLibraryW(L"KestraneService.dll");
    Factory factory = module ? (Factory)(void (*)(void))GetProcAddress(module, "QVCreateService") : NULL;
    if (!factory) {
        fprintf(stderr, "KestraneService.dll or its QVCreateService is missing: %lu\n", GetLastError());
        return 2;
    }
#else
    Factory factory = QVCreateService;
#endif
    Service* service = factory();
    if (!service) return 2;
    if (logFile) {
        LogsWithoutFlush(service, logFile);
    } else {
        Tour(service); /* the first run also makes what the module keeps for its life */
#ifdef _WIN32
        const size_t before = HeapInUse();
        for (int i = 0; i < 3; ++i) Tour(service);
        const size_t after = HeapInUse();
        EXPECT(before > 0 && after == before, "heap in use went from %zu to %zu bytes", before, after);
#endif
    }
    EXPECT(service->slots->DeletingDestructor(service, 1) == service, "the deleting destructor returns the object");
#ifdef _WIN32
    FreeLibrary(module);
#endif
    printf("%s: %d faults\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}
