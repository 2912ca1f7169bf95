// The one include through which Kestrane reaches the Windows API.
// On Windows it is the real SDK; natively it is the in-tree emulation that the
// sanitizer, fuzzing and fast test builds run against.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>
#include <rpc.h>
#define WIDE(s) L##s
#else
#include "platform/native/WinApi.h"
#define WIDE(s) u##s
#endif

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
// The heap block for the caller's token user comes from the C runtime's malloc;
// natively the emulation supplies it so a failed allocation can be injected.
inline void* PlatformMalloc(std::size_t size) { return std::malloc(size); }
#endif

// Length of a NUL-terminated UTF-16 text, at most `bound` units.
inline std::size_t WideLength(const WCHAR* text, std::size_t bound = SIZE_MAX) {
    std::size_t n = 0;
    while (n < bound && text[n] != 0) ++n;
    return n;
}
