// The host contract: what a service host builds against to load and drive a
// Kestrane-style service module. Its layout, order and signatures are fixed.
// A host needs only <windows.h>, <cstdint> and <functional> besides this file.
//
// Service hosts are built with MSVC, so the machine layout is the one MSVC's C++ ABI
// gives these declarations on x64. Under MSVC (and clang-cl) they are written plainly.
// Every other compiler (mingw g++ for the module, g++ for the native build) spells the
// same layout out, because its own ABI differs in two places:
//  - a virtual destructor takes one slot under MSVC (the scalar deleting destructor),
//    two under the Itanium ABI; here it is an explicit slot of MSVC's signature;
//  - a class argument passed by value is destroyed by the callee under MSVC and by the
//    caller under g++; here ExecuteCommand takes the pointer MSVC passes and destroys
//    the object itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/native/WinTypes.h"
#endif

#ifdef _MSC_VER
#include <functional>
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

#ifdef _MSC_VER

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

#else

// Bit 0 of a deleting destructor's flags: free the object's storage too.
constexpr unsigned int kDeleteStorage = 1;

// Marks the module's calls on objects the host made. Those objects have the slot tables
// below but need not be C++ objects (a host written in C has no C++ type information
// behind its tables), so the sanitizers' dynamic type check does not apply to them.
#define QV_CALLS_HOST_OBJECT __attribute__((no_sanitize("vptr")))

// Slots: [deleting destructor, IsWhiteListExempt]. The module calls only the second.
class AccessPolicy {
public:
    virtual void* DeletingDestructor(unsigned int flags) = 0;
    virtual bool IsWhiteListExempt() = 0;

protected:
    ~AccessPolicy() = default;  // destroyed through the slot above, never by delete
};

// The policy's answer; no policy exempts nothing.
QV_CALLS_HOST_OBJECT inline bool IsExemptBy(AccessPolicy* policy) {
    return policy != nullptr && policy->IsWhiteListExempt();
}

// What a callback object points at: MSVC's STL `_Func_base` for void(const WCHAR*),
// six slots and no destructor. The module uses only DeleteThis.
class ServiceCallbackTarget {
public:
    virtual ServiceCallbackTarget* Copy(void* where) const = 0;
    virtual ServiceCallbackTarget* Move(void* where) = 0;
    virtual void DoCall(const WCHAR*&& text) = 0;
    virtual const void* TargetType() const = 0;  // a `const std::type_info&` of MSVC's runtime
    virtual void DeleteThis(bool deallocate) = 0;
    virtual const void* Get() const = 0;

protected:
    ~ServiceCallbackTarget() = default;
};

// std::function<void(const WCHAR*)> as MSVC's STL lays it out on x64: small callables
// live in the storage, larger ones on the heap; `target` is null when empty.
struct ServiceCallback {
    static constexpr std::size_t kStorageBytes = 56;
    alignas(8) unsigned char storage[kStorageBytes];
    ServiceCallbackTarget* target;
};
static_assert(sizeof(ServiceCallback) == 64 && alignof(ServiceCallback) == 8, "MSVC's std::function is 64 bytes");
static_assert(offsetof(ServiceCallback, target) == ServiceCallback::kStorageBytes, "the target follows the storage");

// What MSVC's std::function destructor does: the target destroys itself, and frees
// itself when it does not live in the object's own storage.
QV_CALLS_HOST_OBJECT inline void DestroyServiceCallback(ServiceCallback* callback) {
    if (!callback || !callback->target) return;
    ServiceCallbackTarget* target = callback->target;
    callback->target = nullptr;
    target->DeleteThis(static_cast<void*>(target) != static_cast<void*>(callback->storage));
}

// Slots 1 to 11 in MSVC's order. ExecuteCommand's `callback` is the caller's object,
// which ExecuteCommand destroys before it returns, on every way out.
class QVService {
public:
    virtual void* DeletingDestructor(unsigned int flags) = 0;
    virtual uint32_t CreateClientContext(const WCHAR* clientId, ClientContext** outContext) = 0;
    virtual uint32_t ReleaseClientContext(ClientContext** context) = 0;
    virtual ServiceStatus ExecuteCommand(ClientContext* context, int32_t functionId, const WCHAR* message,
                                         WCHAR** outString, ServiceCallback* callback,
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

protected:
    ~QVService() = default;  // destroyed through slot 1, never by delete
};

#endif

static_assert(sizeof(QVService) == sizeof(void*) && sizeof(AccessPolicy) == sizeof(void*),
              "interfaces hold nothing but their table pointer");

}  // namespace Qv::Corvane::Server::Services

#if defined(_MSC_VER)
extern "C" Qv::Corvane::Server::Services::QVService* QVCreateService();
#elif defined(_WIN32)
extern "C" __declspec(dllexport) Qv::Corvane::Server::Services::QVService* QVCreateService();
#else
extern "C" __attribute__((visibility("default"))) Qv::Corvane::Server::Services::QVService* QVCreateService();
#endif
