// The two allocators the code under test sees: malloc (which can be made to fail)
// and LocalAlloc for SID texts (counted, so a missing LocalFree shows in tests).
#include "platform/native/EmuCore.h"
#include "platform/native/Emulation.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace KestraneEmu {
namespace {

std::unordered_set<void*>& LocalBlocks() {
    static std::unordered_set<void*> blocks;
    return blocks;
}

}  // namespace

std::size_t LocalAllocCount() {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    return LocalBlocks().size();
}

namespace Detail {

WCHAR* LocalAllocTextLocked(const std::u16string& text) {
    auto* block = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
    if (block == nullptr) return nullptr;
    std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    LocalBlocks().insert(block);
    return block;
}

}  // namespace Detail
}  // namespace KestraneEmu

void* PlatformMalloc(std::size_t size) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("malloc", &error)) {
        SetLastError(error);
        return nullptr;
    }
    return std::malloc(size);
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr) return nullptr;
    const std::lock_guard<std::mutex> lock(KestraneEmu::Detail::StateMutex());
    auto& blocks = KestraneEmu::LocalBlocks();
    if (blocks.erase(memory) == 0) {
        // Not ours: Windows hands the block back and reports a bad handle.
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    std::free(memory);
    return nullptr;
}
