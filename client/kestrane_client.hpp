// kestrane_client.hpp: the C API of kestrane_client.h with RAII, for C++ callers. Header
// only and inline, so it ties a caller to no particular compiler or standard library.
#pragma once

#include "kestrane_client.h"

#include <windows.h>

#include <string>

namespace Kestrane::Client {

// One answer of the host, its response copied out of the library's buffer.
struct Answer {
    KestraneResult result = KESTRANE_OK;
    unsigned long error = 0;  // GetLastError() behind a result other than KESTRANE_OK
    unsigned long status = KESTRANE_STATUS_GENERAL_FAILURE;
    std::wstring response;
    bool hasResponse = false;
    bool Delivered() const { return result == KESTRANE_OK; }
};

class ClientSession {
public:
    ClientSession(const std::wstring& endpoint, const std::wstring& clientId, unsigned long timeoutMs = 0) {
        openResult_ = KestraneOpenSession(endpoint.c_str(), clientId.c_str(), timeoutMs, &session_);
        openError_ = openResult_ == KESTRANE_OK ? 0 : GetLastError();
    }
    ~ClientSession() { KestraneCloseSession(session_); }
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    bool Open() const { return openResult_ == KESTRANE_OK; }
    KestraneResult OpenResult() const { return openResult_; }
    unsigned long OpenError() const { return openError_; }
    KestraneSession* get() const { return session_; }

    Answer Execute(long functionId, const std::wstring& request) const {
        Answer answer;
        wchar_t* response = nullptr;
        answer.result = KestraneExecute(session_, functionId, request.c_str(), &answer.status, &response);
        answer.error = answer.result == KESTRANE_OK ? 0 : GetLastError();
        if (response != nullptr) {
            answer.response = response;
            answer.hasResponse = true;
            KestraneFreeResponse(response);
        }
        return answer;
    }

private:
    KestraneSession* session_ = nullptr;
    KestraneResult openResult_ = KESTRANE_INVALID_ARGUMENT;
    unsigned long openError_ = 0;
};

}  // namespace Kestrane::Client
