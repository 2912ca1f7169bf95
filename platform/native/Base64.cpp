// crypt32's Base64 as Wine 8 does it: lines of 64 characters, every line (the last
// too) ended by the separator; the decoder skips whitespace and stops at padding.
#include "platform/native/EmuCore.h"

#include <string>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::u16string Separator(DWORD flags) {
    if (flags & CRYPT_STRING_NOCR) return u"\n";
    if (flags & CRYPT_STRING_NOCRLF) return u"";
    return u"\r\n";
}

std::u16string Encode(const BYTE* data, DWORD length, const std::u16string& separator) {
    std::u16string text;
    DWORD i = 0;
    std::size_t written = 0;
    for (; i + 3 <= length; i += 3) {
        if (written != 0 && written % 64 == 0) text += separator;
        text += static_cast<char16_t>(kAlphabet[data[i] >> 2]);
        text += static_cast<char16_t>(kAlphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)]);
        text += static_cast<char16_t>(kAlphabet[((data[i + 1] & 0x0f) << 2) | (data[i + 2] >> 6)]);
        text += static_cast<char16_t>(kAlphabet[data[i + 2] & 0x3f]);
        written += 4;
    }
    // Wine puts no separator before the padded group, even at a 64-character
    // boundary; the line then runs to 68 characters.
    if (length - i == 2) {
        text += static_cast<char16_t>(kAlphabet[data[i] >> 2]);
        text += static_cast<char16_t>(kAlphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)]);
        text += static_cast<char16_t>(kAlphabet[(data[i + 1] & 0x0f) << 2]);
        text += u'=';
    } else if (length - i == 1) {
        text += static_cast<char16_t>(kAlphabet[data[i] >> 2]);
        text += static_cast<char16_t>(kAlphabet[(data[i] & 0x03) << 4]);
        text += u"==";
    }
    text += separator;
    return text;
}

// Wine's count: the characters, one separator per started line of 64, and the NUL.
DWORD EncodedSize(DWORD length, const std::u16string& separator) {
    const DWORD characters = (length + 2) / 3 * 4;
    const DWORD lines = characters / 64 + (characters % 64 ? 1 : 0);
    return characters + lines * static_cast<DWORD>(separator.size()) + 1;
}

constexpr int kPadding = 0x100;
constexpr int kWhitespace = 0x200;
constexpr int kInvalid = 0x300;

int Decode(WCHAR c) {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    if (c == u'=') return kPadding;
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') return kWhitespace;
    return kInvalid;
}

}  // namespace

BOOL CryptBinaryToStringW(const BYTE* binary, DWORD binaryLength, DWORD flags, LPWSTR text, DWORD* textLength) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("CryptBinaryToStringW", &error)) return Fail(error);
    if (binary == nullptr || textLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & 0x0fffffff) != CRYPT_STRING_BASE64) return Fail(ERROR_INVALID_PARAMETER);

    const std::u16string separator = Separator(flags);
    const DWORD needed = EncodedSize(binaryLength, separator);
    if (text == nullptr) {
        *textLength = needed;
        return TRUE;
    }
    if (needed > *textLength) {
        *textLength = needed;
        return Fail(ERROR_MORE_DATA);
    }
    std::u16string encoded = Encode(binary, binaryLength, separator);
    if (binaryLength == 0) {
        // Wine counts no separator for empty input yet writes one; it is kept only
        // where the caller's buffer has room, so the reported length stays 0.
        if (encoded.size() + 1 > *textLength) encoded.clear();
    }
    encoded.copy(text, encoded.size());
    text[encoded.size()] = 0;
    *textLength = needed - 1;
    return TRUE;
}

BOOL CryptStringToBinaryW(LPCWSTR text, DWORD textLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip,
                          DWORD* usedFlags) {
    DWORD error = 0;
    if (KestraneEmu::Detail::TakeFault("CryptStringToBinaryW", &error)) return Fail(error);
    if (text == nullptr || binaryLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & 0xfffffff0) return Fail(ERROR_INVALID_DATA);
    if (flags != CRYPT_STRING_BASE64) return Fail(ERROR_INVALID_PARAMETER);
    if (textLength == 0) textLength = static_cast<DWORD>(WideLength(text));

    // First pass: validate and count, as Wine does. Characters in a group of four
    // yield bytes as "1-23": the 1st, 3rd and 4th each complete one.
    DWORD valid = 0, out = 0;
    bool padded = false;
    for (DWORD i = 0; i < textLength; ++i) {
        const int d = Decode(text[i]);
        if (d == kInvalid || (padded && d != kPadding && d != kWhitespace)) {
            *binaryLength = out;
            return Fail(ERROR_INVALID_DATA);
        }
        if (d == kWhitespace) continue;
        if (d == kPadding && (valid & 3) == 0) break;  // padding after a whole group ends the text
        ++valid;
        if (d == kPadding) {
            padded = true;
            if ((valid & 3) == 0) break;
            continue;
        }
        if ((valid & 3) != 2) ++out;
    }
    if ((valid & 3) != 0 && padded) {
        *binaryLength = out;
        return Fail(ERROR_INVALID_DATA);
    }
    if (binary == nullptr) {
        *binaryLength = out;
        if (skip != nullptr) *skip = 0;
        if (usedFlags != nullptr) *usedFlags = CRYPT_STRING_BASE64;
        return TRUE;
    }
    // Wine only checks a non-zero size and writes past a zero one; here a zero
    // size is too small like any other.
    if (out > *binaryLength) return Fail(ERROR_INSUFFICIENT_BUFFER);

    BYTE block[4] = {};
    valid = 0;
    out = 0;
    for (DWORD i = 0; i < textLength; ++i) {
        const int d = Decode(text[i]);
        if (d == kWhitespace) continue;
        if (d == kPadding) break;
        block[valid & 3] = static_cast<BYTE>(d);
        ++valid;
        switch (valid & 3) {
            case 1: binary[out++] = static_cast<BYTE>(block[0] << 2); break;
            case 2: binary[out - 1] = static_cast<BYTE>((block[0] << 2) | (block[1] >> 4)); break;
            case 3: binary[out++] = static_cast<BYTE>((block[1] << 4) | (block[2] >> 2)); break;
            default: binary[out++] = static_cast<BYTE>((block[2] << 6) | block[3]); break;
        }
    }
    *binaryLength = out;
    if (skip != nullptr) *skip = 0;
    if (usedFlags != nullptr) *usedFlags = CRYPT_STRING_BASE64;
    return TRUE;
}
