// REG_BINARY data travels as Base64, through crypt32's codec as the host's module uses.
// crypt32 brings user32 and gdi32 with it (under Wine 8 MB more working set for every
// client process), so it is loaded on the first binary value, not with the library.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Client {

// Base64 without line breaks; false when crypt32 cannot be had or fails.
bool EncodeBase64(const unsigned char* bytes, unsigned long size, std::wstring* text);
// Decodes units of text (line breaks allowed) into bytes (null: only *size is set);
// false for text that is not Base64.
bool DecodeBase64(const wchar_t* text, DWORD units, unsigned char* bytes, DWORD* size);

}  // namespace Kestrane::Client
