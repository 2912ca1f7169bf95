// A piece of work run on a thread-pool thread while the caller waits for it a bounded
// time: a host that never answers holds a pool thread, never the application's.
#pragma once

#include <windows.h>

#include <memory>

namespace Kestrane::Client {

class PoolCall {
public:
    PoolCall() = default;
    virtual ~PoolCall() = default;
    PoolCall(const PoolCall&) = delete;
    PoolCall& operator=(const PoolCall&) = delete;

    // What runs on the pool thread. It must own everything it touches: once the caller
    // stops waiting, the call outlives the caller's frame.
    virtual void Run() = 0;

private:
    friend class PoolCallRunner;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE done_ = CONDITION_VARIABLE_INIT;
    bool finished_ = false;
    bool abandoned_ = false;
    HMODULE pinned_ = nullptr;  // this library, kept loaded while an abandoned call runs
};

enum class PoolOutcome {
    Finished,  // Run returned in time; the call is the caller's again
    TimedOut,  // still running; the pool deletes it when Run returns
    NoThread,  // the pool took no work (GetLastError says why); the call is the caller's
};

// Runs call->Run() on the process's default thread pool and waits at most timeoutMs.
// On TimedOut the pointer has been released.
PoolOutcome RunOnPool(std::unique_ptr<PoolCall>& call, DWORD timeoutMs);

}  // namespace Kestrane::Client
