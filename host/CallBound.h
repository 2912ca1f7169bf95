// The host's own count of the calls it runs at once. The RPC runtime's MaxCalls is no bound
// on Windows (RpcServerListen takes it as a hint; RpcServerRegisterIf2 applies it only to
// auto-listen interfaces), so a call takes a place on entry or is refused.
#pragma once

#include <atomic>

namespace Kestrane::Host {

class CallBound {
public:
    explicit CallBound(unsigned limit) : limit_(limit) {}
    CallBound(const CallBound&) = delete;
    CallBound& operator=(const CallBound&) = delete;

    // A place, or false when all are taken. Taking and checking are one step, so calls
    // arriving together cannot pass the limit between them.
    bool TryTake() {
        unsigned running = running_.load();
        do {
            if (running >= limit_) return false;
        } while (!running_.compare_exchange_weak(running, running + 1));
        return true;
    }
    void Release() { --running_; }
    unsigned Running() const { return running_.load(); }

private:
    const unsigned limit_;
    std::atomic<unsigned> running_{0};
};

}  // namespace Kestrane::Host
