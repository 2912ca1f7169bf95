#include "logging/LogField.h"


namespace Qv::Corvane::Logging {
namespace {

bool IsHigh(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters a viewer may show as a line end, or that are invisible or reorder what a line
// says, so that a logged key path could pass for another: every control (Cc), format (Cf),
// line (Zl) and paragraph (Zp) separator, bidirectional controls included. Taken from the
// Unicode 14.0 character data and widened to whole blocks where later versions add format
// characters (Egyptian hieroglyph controls up to U+1343F, every tag character).
struct Range {
    uint32_t first, last;
};
constexpr Range kInvisible[] = {
    {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE007F},
};

bool Breaks(uint32_t c) {
    if (c >= 0x20 && c < 0x7F) return false;  // most of every line
    std::size_t low = 0, high = sizeof kInvisible / sizeof kInvisible[0];
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (c > kInvisible[mid].last) {
            low = mid + 1;
        } else if (c < kInvisible[mid].first) {
            high = mid;
        } else {
            return true;
        }
    }
    return false;
}

// The code point at unit i when it starts a surrogate pair, else the unit itself.
uint32_t CodePointAt(const WCHAR* text, std::size_t i, std::size_t length) {
    const uint32_t c = static_cast<uint16_t>(text[i]);
    if (!IsHigh(c) || i + 1 >= length) return c;
    const uint32_t low = static_cast<uint16_t>(text[i + 1]);
    return IsLow(low) ? 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00) : c;
}

// Whether unit i is a surrogate without its partner.
bool LoneSurrogate(const WCHAR* text, std::size_t i, std::size_t length) {
    const uint32_t c = static_cast<uint16_t>(text[i]);
    if (IsHigh(c)) return i + 1 >= length || !IsLow(static_cast<uint16_t>(text[i + 1]));
    if (IsLow(c)) return i == 0 || !IsHigh(static_cast<uint16_t>(text[i - 1]));
    return false;
}

bool NeedsQuotes(const WCHAR* text, std::size_t length, bool clientId) {
    if (length > kMaxFieldUnits) return true;
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t c = static_cast<uint16_t>(text[i]);
        if (c == u'"' || Breaks(c) || (clientId && c == u']')) return true;
        if (c >= 0xD800 && c <= 0xDFFF && (LoneSurrogate(text, i, length) || Breaks(CodePointAt(text, i, length)))) {
            return true;
        }
    }
    return false;
}

void AppendAscii(WideString& out, const char* text) {
    for (; *text; ++text) out.push_back(static_cast<WCHAR>(*text));
}

// Widens length bytes into room made at once: class and operation names are on every line.
void AppendWidened(WideString& out, const char* text, std::size_t length) {
    const std::size_t start = out.size();
    out.resize(start + length);
    WCHAR* to = &out[start];
    for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
}

void AppendUnitEscape(WideString& out, uint32_t c) {
    static const char digits[] = "0123456789ABCDEF";
    const WCHAR escape[] = {u'\\',
                            u'u',
                            static_cast<WCHAR>(digits[(c >> 12) & 15]),
                            static_cast<WCHAR>(digits[(c >> 8) & 15]),
                            static_cast<WCHAR>(digits[(c >> 4) & 15]),
                            static_cast<WCHAR>(digits[c & 15])};
    out.append(escape, 6);
}

void AppendQuoted(WideString& out, const WCHAR* text, std::size_t length) {
    const std::size_t kept = length <= kMaxFieldUnits                                      ? length
                             : IsHigh(static_cast<uint16_t>(text[kMaxFieldUnits - 1])) ? kMaxFieldUnits - 1
                                                                                           : kMaxFieldUnits;
    out.push_back(u'"');
    for (std::size_t i = 0; i < kept; ++i) {
        const uint32_t c = static_cast<uint16_t>(text[i]);
        if (c == u'"' || c == u'\\') {
            out.push_back(u'\\');
            out.push_back(static_cast<WCHAR>(c));
        } else if (c == u'\n') {
            AppendAscii(out, "\\n");
        } else if (c == u'\r') {
            AppendAscii(out, "\\r");
        } else if (c == u'\t') {
            AppendAscii(out, "\\t");
        } else if (Breaks(c) || ((c >= 0xD800 && c <= 0xDFFF) && LoneSurrogate(text, i, kept))) {
            AppendUnitEscape(out, c);
        } else if (IsHigh(c) && Breaks(CodePointAt(text, i, kept))) {
            // A tag or other invisible character beyond the BMP: both units of its pair.
            AppendUnitEscape(out, c);
            AppendUnitEscape(out, static_cast<uint16_t>(text[++i]));
        } else {
            out.push_back(static_cast<WCHAR>(c));
        }
    }
    out.push_back(u'"');
    if (kept < length) {
        AppendAscii(out, "[cut: ");
        AppendAscii(out, std::to_string(length).c_str());
        AppendAscii(out, " units]");
    }
}

}  // namespace

void AppendField(WideString& out, const WCHAR* text, std::size_t length, bool clientId, bool quoted) {
    if (quoted || NeedsQuotes(text, length, clientId)) {
        AppendQuoted(out, text, length);
    } else {
        out.append(text, length);
    }
}

void AppendNarrowField(WideString& out, const char* text, std::size_t length) {
    // Class and operation names, on every line: plain ASCII goes straight in.
    bool plain = length <= kMaxFieldUnits;
    for (std::size_t i = 0; plain && i < length; ++i) plain = text[i] >= 0x20 && text[i] < 0x7F && text[i] != '"';
    if (plain) {
        AppendWidened(out, text, length);
        return;
    }
    WideString wide;
    AppendWidened(wide, text, length < kMaxFieldUnits ? length : kMaxFieldUnits);
    AppendField(out, wide.data(), length);
}

void AppendLiteral(WideString& out, WCHAR unit) {
    const uint32_t c = static_cast<uint16_t>(unit);
    if (Breaks(c)) {
        AppendUnitEscape(out, c);
    } else {
        out.push_back(unit);
    }
}

}  // namespace Qv::Corvane::Logging
