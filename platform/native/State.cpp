// The lock and the handle numbering every part of the emulation shares.
#include "platform/native/EmuCore.h"

namespace KestraneEmu::Detail {

std::mutex& StateMutex() {
    static std::mutex mutex;
    return mutex;
}

std::uintptr_t NextHandleValueLocked() {
    // Multiples of four from a small base, as Windows hands them out; far below the
    // predefined roots (0x80000000 and up), which RegCloseKey treats as roots.
    static std::uintptr_t next = 0x100;
    next += 4;
    return next;
}

}  // namespace KestraneEmu::Detail
