#include "client/Base64.h"

#include <wincrypt.h>

#include <cwchar>
#include <memory>

namespace Kestrane::Client {

namespace {

struct Codec {
    decltype(&CryptBinaryToStringW) encode = nullptr;
    decltype(&CryptStringToBinaryW) decode = nullptr;
};

// Loaded from the system folder only, once, and kept for the life of the process:
// freeing it when this library unloads would mean FreeLibrary from DllMain.
const Codec& Crypt32() {
    static const Codec codec = [] {
        Codec loaded;
        const HMODULE module = LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) return loaded;
        loaded.encode = reinterpret_cast<decltype(&CryptBinaryToStringW)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "CryptBinaryToStringW")));
        loaded.decode = reinterpret_cast<decltype(&CryptStringToBinaryW)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "CryptStringToBinaryW")));
        return loaded;
    }();
    return codec;
}

}  // namespace

bool EncodeBase64(const unsigned char* bytes, unsigned long size, std::wstring* text) {
    text->clear();
    if (size == 0) return true;
    const Codec& codec = Crypt32();
    if (codec.encode == nullptr) return false;
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD units = 0;
    if (!codec.encode(bytes, size, kFlags, nullptr, &units)) return false;
    // Wine's count may fall short of what it writes: room to spare, and the NUL decides.
    const DWORD room = units + 8;
    std::unique_ptr<wchar_t[]> encoded(new wchar_t[room]());
    DWORD written = room;
    if (!codec.encode(bytes, size, kFlags, encoded.get(), &written)) return false;
    text->assign(encoded.get(), wcsnlen(encoded.get(), room));
    return true;
}

bool DecodeBase64(const wchar_t* text, DWORD units, unsigned char* bytes, DWORD* size) {
    if (units == 0) {
        *size = 0;
        return true;
    }
    const Codec& codec = Crypt32();
    return codec.decode != nullptr &&
           codec.decode(text, units, CRYPT_STRING_BASE64, bytes, size, nullptr, nullptr) != FALSE;
}

}  // namespace Kestrane::Client
