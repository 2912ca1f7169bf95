#include "platform/NtKeyCalls.h"

#ifdef _WIN32
#include <winternl.h>

#include <cstring>
#include <vector>

extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                     ULONG* resultLength);
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace {
constexpr int kKeyNameInformation = 3;
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
}  // namespace

LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name) {
    // KEY_NAME_INFORMATION: a byte length, then the name's units. Names of listed keys
    // fit the stack buffer; a longer one is asked again with the size it needs.
    alignas(ULONG) BYTE stack[512];
    std::vector<BYTE> heap;
    BYTE* buffer = stack;
    ULONG size = sizeof stack;
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = NtQueryKey(key, kKeyNameInformation, buffer, size, &needed);
        if ((status == kBufferTooSmall || status == kBufferOverflow) && needed > size) {
            heap.resize(needed);
            buffer = heap.data();
            size = needed;
            continue;
        }
        if (status < 0) return ERROR_INVALID_HANDLE;
        ULONG bytes = 0;
        std::memcpy(&bytes, buffer, sizeof bytes);
        if (bytes > size - sizeof bytes) return ERROR_INVALID_DATA;
        name->assign(bytes / sizeof(WCHAR), L'\0');
        std::memcpy(&(*name)[0], buffer + sizeof bytes, name->size() * sizeof(WCHAR));
        return ERROR_SUCCESS;
    }
}

LSTATUS DeleteOpenedKey(HKEY key) { return static_cast<LSTATUS>(RtlNtStatusToDosError(NtDeleteKey(key))); }
#else
LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name) { return KestraneQueryKeyName(key, name); }
LSTATUS DeleteOpenedKey(HKEY key) { return KestraneDeleteOpenedKey(key); }
#endif
