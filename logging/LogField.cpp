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

template <class Out>
void AppendUnitEscape(Out& out, uint32_t c) {
    static const char digits[] = "0123456789ABCDEF";
    const char escape[] = {'\\', 'u', digits[(c >> 12) & 15], digits[(c >> 8) & 15], digits[(c >> 4) & 15], digits[c & 15]};
    out.Ascii(escape, 6);
}

template <class Out>
void AppendQuoted(Out& out, const WCHAR* text, std::size_t length) {
    const std::size_t kept = length <= kMaxFieldUnits                                      ? length
                             : IsHigh(static_cast<uint16_t>(text[kMaxFieldUnits - 1])) ? kMaxFieldUnits - 1
                                                                                           : kMaxFieldUnits;
    out.Ascii("\"", 1);
    for (std::size_t i = 0; i < kept; ++i) {
        const uint32_t c = static_cast<uint16_t>(text[i]);
        if (c == u'"' || c == u'\\') {
            const char escaped[] = {'\\', static_cast<char>(c)};
            out.Ascii(escaped, 2);
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
            out.Unit(static_cast<WCHAR>(c));
        }
    }
    out.Ascii("\"", 1);
    if (kept < length) {
        AppendAscii(out, "[cut: ");
        AppendAscii(out, std::to_string(length).c_str());
        AppendAscii(out, " units]");
    }
}

}  // namespace

void WideOut::Latin1(const char* text, std::size_t length) {
    // Widened into room made at once: class and operation names are on every line.
    const std::size_t start = text_.size();
    text_.resize(start + length);
    WCHAR* to = &text_[start];
    for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
}

void Utf8Out::Code(uint32_t c) {
    if (c < 0x80) {
        text_ += static_cast<char>(c);
    } else if (c < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        text_.append(bytes, 2);
    } else if (c < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (c & 0x3F))};
        text_.append(bytes, 3);
    } else {
        const char bytes[] = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        text_.append(bytes, 4);
    }
}

void Utf8Out::Unit(WCHAR unit) {
    const uint32_t c = static_cast<uint16_t>(unit);
    if (high_ != 0) {
        const uint32_t high = high_;
        high_ = 0;
        if (IsLow(c)) {
            Code(0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00));
            return;
        }
        Code(0xFFFD);  // a lone surrogate cannot be written as UTF-8
    }
    if (IsHigh(c)) {
        high_ = c;
    } else {
        Code(IsLow(c) ? 0xFFFD : c);
    }
}

void Utf8Out::Units(const WCHAR* text, std::size_t length) {
    for (std::size_t i = 0; i < length;) {
        // Most of a line is ASCII: runs of it go in as they are.
        std::size_t run = i;
        if (high_ == 0) {
            while (run < length && static_cast<uint16_t>(text[run]) < 0x80) ++run;
        }
        if (run > i) {
            const std::size_t start = text_.size();
            text_.resize(start + (run - i));
            for (std::size_t k = i; k < run; ++k) text_[start + (k - i)] = static_cast<char>(text[k]);
            i = run;
            continue;
        }
        Unit(text[i++]);
    }
}

void Utf8Out::Ascii(const char* text, std::size_t length) {
    Finish();
    text_.append(text, length);
}

void Utf8Out::Finish() {
    if (high_ != 0) Code(0xFFFD);
    high_ = 0;
}

template <class Out>
void AppendField(Out& out, const WCHAR* text, std::size_t length, bool clientId, bool quoted) {
    if (quoted || NeedsQuotes(text, length, clientId)) {
        AppendQuoted(out, text, length);
    } else {
        out.Units(text, length);
    }
}

template <class Out>
void AppendNarrowField(Out& out, const char* text, std::size_t length) {
    // Class and operation names, on every line: plain ASCII goes straight in.
    bool plain = length <= kMaxFieldUnits;
    for (std::size_t i = 0; plain && i < length; ++i) plain = text[i] >= 0x20 && text[i] < 0x7F && text[i] != '"';
    if (plain) {
        out.Ascii(text, length);
        return;
    }
    WideString wide;
    WideOut widened(wide);
    widened.Latin1(text, length < kMaxFieldUnits ? length : kMaxFieldUnits);
    AppendField(out, wide.data(), length);
}

template <class Out>
void AppendLiteral(Out& out, WCHAR unit) {
    const uint32_t c = static_cast<uint16_t>(unit);
    if (Breaks(c)) {
        AppendUnitEscape(out, c);
    } else {
        out.Unit(unit);
    }
}

template void AppendField(WideOut&, const WCHAR*, std::size_t, bool, bool);
template void AppendField(Utf8Out&, const WCHAR*, std::size_t, bool, bool);
template void AppendNarrowField(WideOut&, const char*, std::size_t);
template void AppendNarrowField(Utf8Out&, const char*, std::size_t);
template void AppendLiteral(WideOut&, WCHAR);
template void AppendLiteral(Utf8Out&, WCHAR);

void AppendField(WideString& out, const WCHAR* text, std::size_t length, bool clientId, bool quoted) {
    WideOut to(out);
    AppendField(to, text, length, clientId, quoted);
}

}  // namespace Qv::Corvane::Logging
