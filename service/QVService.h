// The host contract: what a service host builds against to load and drive a
// Kestrane-style service module. Its layout, order and signatures are fixed.
// A host needs only <windows.h>, <cstdint> and <functional> besides this file.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#define QV_EXPORT __declspec(dllexport)
#else
#include "platform/native/WinTypes.h"
#define QV_EXPORT __attribute__((visibility("default")))
#endif

namespace Qv::Corvane::Server::Services {

enum ServiceStatus : uint32_t {
    Success = 0,
    UnsupportedFunction = 0x20000001,
    GeneralFailure = 0x20000002,
    InvalidKeyPath = 0x20000003,
    OpenKeyFailed = 0x20000004,
    RootKeyNotFound = 0x20000005,
    InvalidValueName = 0x20000006,
    InvalidDataType = 0x20000007,
    InvalidWriteData = 0x20000008,
    NotWhiteListed = 0x20000009,
    DeleteValueFailed = 0x2000000A,
    InvalidJson = 0x2000000B,
};

// Opaque to the host: made by CreateClientContext, given back to ReleaseClientContext.
struct ClientContext;

class AccessPolicy {
public:
    virtual ~AccessPolicy() = default;
    virtual bool IsWhiteListExempt() = 0;
};

using ServiceCallback = std::function<void(const WCHAR*)>;

class QVService {
public:
    virtual ~QVService() = default;
    virtual uint32_t CreateClientContext(const WCHAR* clientId, ClientContext** outContext) = 0;
    virtual uint32_t ReleaseClientContext(ClientContext** context) = 0;
    virtual ServiceStatus ExecuteCommand(ClientContext* context, int32_t functionId, const WCHAR* message,
                                         WCHAR** outString, ServiceCallback callback,
                                         AccessPolicy* accessPolicy) = 0;
    // The response text comes from the module's malloc, so only the module frees it.
    virtual void FreeOutString(WCHAR* buffer) {
        if (buffer) std::free(buffer);
    }
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual bool Reserved4() { return true; }
    virtual void Reserved5() {}
    virtual void Reserved6() {}
};

}  // namespace Qv::Corvane::Server::Services

extern "C" QV_EXPORT Qv::Corvane::Server::Services::QVService* QVCreateService();
