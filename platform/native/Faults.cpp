// Fault injection: chosen calls fail with chosen errors, to drive the code under
// test down paths the real system takes only rarely.
#include "platform/native/EmuCore.h"
#include "platform/native/Emulation.h"

#include <cstring>
#include <vector>

namespace KestraneEmu {
namespace {

struct Fault {
    std::string function;
    int remaining;  // calls still to let through, plus one
    DWORD error;
};

// Faults are global, not per thread, so a stress test can aim one at whichever
// thread comes next; their own lock keeps TakeFault usable under StateMutex.
std::mutex& FaultMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<Fault>& Faults() {
    static std::vector<Fault> faults;
    return faults;
}

}  // namespace

void FailCall(const char* function, int nth, DWORD error) {
    if (function == nullptr || nth < 1) return;
    const std::lock_guard<std::mutex> lock(FaultMutex());
    Faults().push_back(Fault{function, nth, error});
}

void ClearFaults() {
    Detail::ClearFaultsLocked();
}

namespace Detail {

void ClearFaultsLocked() {
    const std::lock_guard<std::mutex> lock(FaultMutex());
    Faults().clear();
}

bool TakeFault(const char* function, DWORD* error) {
    const std::lock_guard<std::mutex> lock(FaultMutex());
    std::vector<Fault>& faults = Faults();
    bool fired = false;
    for (auto it = faults.begin(); it != faults.end();) {
        if (it->function != function) {
            ++it;
            continue;
        }
        // Every pending fault of this function counts the call, so two faults
        // armed for the 1st and 3rd call both fire where they were aimed.
        if (--it->remaining == 0) {
            if (!fired) *error = it->error;
            fired = true;
            it = faults.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

}  // namespace Detail
}  // namespace KestraneEmu
