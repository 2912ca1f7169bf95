#include "platform/KeyName.h"

#ifdef _WIN32
#include <winternl.h>

#include <cstring>
#include <vector>

extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                     ULONG* resultLength);

namespace {
constexpr int kKeyNameInformation = 3;
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
}  // namespace

LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name) {
    // KEY_NAME_INFORMATION: a byte length, then the name's units.
    std::vector<BYTE> buffer(512);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            NtQueryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if ((status == kBufferTooSmall || status == kBufferOverflow) && needed > buffer.size()) {
            buffer.resize(needed);
            continue;
        }
        if (status < 0) return ERROR_INVALID_HANDLE;
        ULONG bytes = 0;
        std::memcpy(&bytes, buffer.data(), sizeof bytes);
        if (bytes > buffer.size() - sizeof bytes) return ERROR_INVALID_DATA;
        name->assign(bytes / sizeof(WCHAR), L'\0');
        std::memcpy(&(*name)[0], buffer.data() + sizeof bytes, name->size() * sizeof(WCHAR));
        return ERROR_SUCCESS;
    }
}
#else
LSTATUS QueryKeyName(HKEY key, std::basic_string<WCHAR>* name) { return KestraneQueryKeyName(key, name); }
#endif
