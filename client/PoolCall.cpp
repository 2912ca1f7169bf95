#include "client/PoolCall.h"

namespace Kestrane::Client {

class PoolCallRunner {
public:
    static void CALLBACK Entry(PTP_CALLBACK_INSTANCE instance, void* context) {
        auto* call = static_cast<PoolCall*>(context);
        call->Run();
        AcquireSRWLockExclusive(&call->lock_);
        call->finished_ = true;
        const bool abandoned = call->abandoned_;
        // Woken under the lock: the caller cannot see finished_, return and delete the
        // call before this thread is done with it.
        if (!abandoned) WakeConditionVariable(&call->done_);
        ReleaseSRWLockExclusive(&call->lock_);
        if (!abandoned) return;
        const HMODULE pinned = call->pinned_;
        delete call;
        // The library may be unloaded by now but for this reference; the pool drops
        // it once this function has returned.
        if (pinned != nullptr) FreeLibraryWhenCallbackReturns(instance, pinned);
    }

    static PoolOutcome Run(std::unique_ptr<PoolCall>& call, DWORD timeoutMs) {
        if (!TrySubmitThreadpoolCallback(Entry, call.get(), nullptr)) return PoolOutcome::NoThread;
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        AcquireSRWLockExclusive(&call->lock_);
        for (ULONGLONG now = GetTickCount64(); !call->finished_ && now < deadline; now = GetTickCount64()) {
            SleepConditionVariableSRW(&call->done_, &call->lock_, static_cast<DWORD>(deadline - now), 0);
        }
        const bool finished = call->finished_;
        if (!finished) {
            call->abandoned_ = true;
            HMODULE self = nullptr;
            if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(&PoolCallRunner::Entry), &self)) {
                call->pinned_ = self;
            }
        }
        ReleaseSRWLockExclusive(&call->lock_);
        if (finished) return PoolOutcome::Finished;
        call.release();
        return PoolOutcome::TimedOut;
    }
};

PoolOutcome RunOnPool(std::unique_ptr<PoolCall>& call, DWORD timeoutMs) { return PoolCallRunner::Run(call, timeoutMs); }

}  // namespace Kestrane::Client
