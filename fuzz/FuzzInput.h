// How a fuzz input's bytes become one request, shared by the fuzz targets and the
// tests that replay the seed corpus. The text part is decoded as lenient UTF-8 so
// that seeds stay readable and the JSON dictionary's tokens mean what they say, while
// every UTF-16 sequence (lone surrogates and NULs included) is still reachable: a
// three-byte form encodes any unit, surrogates too, and a byte that starts no valid
// form stands for the unit of the same value.
#pragma once

#include "platform/Win32.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace KestraneFuzz {

using WideText = std::basic_string<WCHAR>;

// The eight commands first, then ids no handler takes. Indexed by the first byte
// modulo 16, so the seed files can spell them as the digits '0' to '7' (0x30 is 0 mod 16).
inline constexpr int32_t kFunctionIds[16] = {0, 2, 4, 8, 16, 32, 64, 128,
                                             1, 3, -1, 129, 256, INT32_MIN, INT32_MAX, 5};

// Bits of the second byte.
inline constexpr uint8_t kRpcCaller = 1;     // serve the request inside an (emulated) RPC call
inline constexpr uint8_t kHasPolicy = 2;     // pass an AccessPolicy
inline constexpr uint8_t kPolicyExempt = 4;  // ... that exempts the caller from the whitelists

struct Request {
    int32_t functionId = 0;
    uint8_t flags = 0;
    WideText text;
};

inline WideText DecodeText(const uint8_t* data, std::size_t size) {
    WideText out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        const uint8_t lead = data[i];
        std::size_t extra = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (lead >= 0xF8) extra = 0;
        uint32_t point = extra == 3 ? lead & 0x07u : extra == 2 ? lead & 0x0Fu : extra == 1 ? lead & 0x1Fu : lead;
        bool formed = i + extra < size;
        for (std::size_t k = 1; formed && k <= extra; ++k) {
            if ((data[i + k] & 0xC0) != 0x80) formed = false;
            point = (point << 6) | (data[i + k] & 0x3Fu);
        }
        if (!formed || point > 0x10FFFF) {
            point = lead;
            extra = 0;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (point >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(point));
        }
        i += extra + 1;
    }
    return out;
}

// Byte 0: the function id; byte 1: the flags; the rest: the request text.
inline Request DecodeRequest(const uint8_t* data, std::size_t size) {
    Request request;
    request.functionId = kFunctionIds[size > 0 ? data[0] % 16 : 0];
    request.flags = size > 1 ? data[1] : 0;
    if (size > 2) request.text = DecodeText(data + 2, size - 2);
    return request;
}

}  // namespace KestraneFuzz
