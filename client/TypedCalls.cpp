// The typed calls of KestraneClient.dll: each writes its request with the request
// writer, runs it, and takes the answer only through the answer reader.
#include "client/kestrane_client.h"

#include "client/AnswerReader.h"
#include "client/ApiResult.h"
#include "client/RequestWriter.h"

#include <rpc.h>
#include <rpcndr.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

using namespace Kestrane::Client;

namespace {

struct StubFree {
    void operator()(wchar_t* text) const { MIDL_user_free(text); }
};

// Runs request; on an answer, read(answer text) takes a success, ReadFailure any other
// status. An answer either refuses leaves *status at GeneralFailure.
template <typename Read>
KestraneResult Run(KestraneSession* session, long functionId, const std::wstring& request, unsigned long* status,
                   Read read) {
    unsigned long answered = KESTRANE_STATUS_GENERAL_FAILURE;
    wchar_t* text = nullptr;
    const CallResult call = RunRequest(session, functionId, request.c_str(), request.size(), &answered, &text);
    const std::unique_ptr<wchar_t, StubFree> answer(text);
    if (call.kind != CallResult::Done) return Answer(call);
    const bool taken = answered == KESTRANE_STATUS_SUCCESS ? read(answer.get()) : ReadFailure(answer.get());
    if (!taken) return InvalidAnswer();
    *status = answered;
    return Answer(KESTRANE_OK, 0);
}

// Every typed call: outputs cleared first, arguments checked, no exception let out.
template <typename Call>
KestraneResult Guarded(KestraneSession* session, const wchar_t* keyPath, unsigned long* status, bool argumentsGiven,
                       Call call) {
    if (status != nullptr) *status = KESTRANE_STATUS_GENERAL_FAILURE;
    if (session == nullptr || keyPath == nullptr || status == nullptr || !argumentsGiven) return InvalidArgument();
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

KestraneResult FlagCall(KestraneSession* session, long functionId, const std::wstring& request, unsigned long* status,
                        int* flag) {
    bool result = false;
    const KestraneResult done = Run(session, functionId, request, status, [&](const wchar_t* answer) {
        return ReadFlag(answer, &result);
    });
    if (flag != nullptr) *flag = done == KESTRANE_OK && *status == KESTRANE_STATUS_SUCCESS && result;
    return done;
}

}  // namespace

extern "C" {

KestraneResult __cdecl KestraneKeyExists(KestraneSession* session, const wchar_t* keyPath, unsigned long* status,
                                         int* exists) {
    if (exists != nullptr) *exists = 0;
    return Guarded(session, keyPath, status, exists != nullptr, [&] {
        return FlagCall(session, KESTRANE_CHECK_REGISTRY_PATH_EXISTS, KeyRequest(keyPath), status, exists);
    });
}

KestraneResult __cdecl KestraneReadValue(KestraneSession* session, const wchar_t* keyPath, const wchar_t* valueName,
                                         int expand, unsigned long* status, KestraneValue** value) {
    if (value != nullptr) *value = nullptr;
    return Guarded(session, keyPath, status, valueName != nullptr && value != nullptr, [&] {
        const bool expanded = expand != 0;
        return Run(session, KESTRANE_READ_REGISTRY_VALUE, KeyRequest(keyPath, valueName, &expanded), status,
                   [&](const wchar_t* answer) { return ReadOneValue(answer, value); });
    });
}

KestraneResult __cdecl KestraneReadValues(KestraneSession* session, const wchar_t* keyPath, int expand,
                                          unsigned long* status, KestraneValueList** values) {
    if (values != nullptr) *values = nullptr;
    return Guarded(session, keyPath, status, values != nullptr, [&] {
        const bool expanded = expand != 0;
        return Run(session, KESTRANE_READ_REGISTRY_VALUES, KeyRequest(keyPath, nullptr, &expanded), status,
                   [&](const wchar_t* answer) { return ReadValueList(answer, values); });
    });
}

KestraneResult __cdecl KestraneListSubkeys(KestraneSession* session, const wchar_t* keyPath, unsigned long* status,
                                           KestraneNameList** subkeys) {
    if (subkeys != nullptr) *subkeys = nullptr;
    return Guarded(session, keyPath, status, subkeys != nullptr, [&] {
        return Run(session, KESTRANE_READ_REGISTRY_SUB_KEYS, KeyRequest(keyPath), status,
                   [&](const wchar_t* answer) { return ReadNameList(answer, subkeys); });
    });
}

KestraneResult __cdecl KestraneCreateKey(KestraneSession* session, const wchar_t* keyPath, unsigned long* status) {
    return Guarded(session, keyPath, status, true, [&] {
        return FlagCall(session, KESTRANE_WRITE_REGISTRY_KEY, KeyRequest(keyPath), status, nullptr);
    });
}

KestraneResult __cdecl KestraneWriteValue(KestraneSession* session, const wchar_t* keyPath, const wchar_t* valueName,
                                          const KestraneValue* value, unsigned long* status) {
    return Guarded(session, keyPath, status, valueName != nullptr && value != nullptr, [&] {
        std::wstring request;
        if (!WriteRequest(keyPath, valueName, *value, &request)) return InvalidArgument();
        return FlagCall(session, KESTRANE_WRITE_REGISTRY_VALUE, request, status, nullptr);
    });
}

KestraneResult __cdecl KestraneDeleteKey(KestraneSession* session, const wchar_t* keyPath, unsigned long* status,
                                         int* deleted) {
    if (deleted != nullptr) *deleted = 0;
    return Guarded(session, keyPath, status, true, [&] {
        return FlagCall(session, KESTRANE_DELETE_REGISTRY_KEY, KeyRequest(keyPath), status, deleted);
    });
}

KestraneResult __cdecl KestraneDeleteValue(KestraneSession* session, const wchar_t* keyPath, const wchar_t* valueName,
                                           unsigned long* status) {
    return Guarded(session, keyPath, status, valueName != nullptr, [&] {
        return FlagCall(session, KESTRANE_DELETE_REGISTRY_VALUE, KeyRequest(keyPath, valueName), status, nullptr);
    });
}

void __cdecl KestraneFreeValue(KestraneValue* value) { std::free(value); }
void __cdecl KestraneFreeValueList(KestraneValueList* values) { std::free(values); }
void __cdecl KestraneFreeNameList(KestraneNameList* names) { std::free(names); }

}  // extern "C"
