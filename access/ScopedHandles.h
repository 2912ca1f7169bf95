// Owners for what the caller-hive lookup acquires: kernel handles, the SID text the
// system allocates, the malloc'd token buffer and the client's impersonation. Each is
// released on every way out.
#pragma once

#include "platform/Win32.h"

#include <cstdlib>

namespace Qv::Corvane::Server::Services::Kestrane {

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (IsValid()) CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    HANDLE* Put() { return &handle_; }

private:
    HANDLE handle_ = nullptr;
};

// What the system allocates for the caller and LocalFree releases: a SID text
// (ConvertSidToStringSidW), a security descriptor (from SDDL or GetSecurityInfo).
template <class Pointer>
class ScopedLocal {
public:
    ScopedLocal() = default;
    ~ScopedLocal() {
        if (pointer_) LocalFree(pointer_);
    }
    ScopedLocal(const ScopedLocal&) = delete;
    ScopedLocal& operator=(const ScopedLocal&) = delete;

    Pointer Get() const { return pointer_; }
    Pointer* Put() { return &pointer_; }

private:
    Pointer pointer_ = nullptr;
};

using ScopedLocalText = ScopedLocal<LPWSTR>;

class ScopedMalloc {
public:
    explicit ScopedMalloc(void* block) : block_(block) {}
    ~ScopedMalloc() { std::free(block_); }
    ScopedMalloc(ScopedMalloc&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    ScopedMalloc(const ScopedMalloc&) = delete;
    ScopedMalloc& operator=(const ScopedMalloc&) = delete;

    void* Get() const { return block_; }

private:
    void* block_;
};

// The served call's client, impersonated by this thread for as long as the owner lives.
// Should the revert fail, the thread keeps the client's rights, never more than the
// host's own, and the RPC runtime reverts when the call ends.
class ScopedImpersonation {
public:
    ScopedImpersonation() : status_(RpcImpersonateClient(nullptr)) {}
    ~ScopedImpersonation() {
        if (status_ == RPC_S_OK) RpcRevertToSelf();
    }
    ScopedImpersonation(const ScopedImpersonation&) = delete;
    ScopedImpersonation& operator=(const ScopedImpersonation&) = delete;

    RPC_STATUS Status() const { return status_; }

private:
    RPC_STATUS status_;
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
