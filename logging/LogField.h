// Outside texts written into a log line as fields (the rules are in Logging.h).
#pragma once

#include "logging/Logging.h"

#include <string>

namespace Qv::Corvane::Logging {

using WideString = std::basic_string<WCHAR>;

// Where formatted text goes, in one pass: UTF-16 units (what a sink and FormatLogMessage
// get) or UTF-8 (the line in the file). `Ascii` takes text known to be ASCII; `Latin1`
// widens 8-bit text read as Latin-1.
class WideOut {
public:
    explicit WideOut(WideString& text) : text_(text) {}
    void Unit(WCHAR unit) { text_.push_back(unit); }
    void Units(const WCHAR* text, std::size_t length) { text_.append(text, length); }
    void Ascii(const char* text, std::size_t length) { Latin1(text, length); }
    void Latin1(const char* text, std::size_t length);

private:
    WideString& text_;
};

// A surrogate pair split across calls is joined; a lone surrogate becomes U+FFFD.
class Utf8Out {
public:
    explicit Utf8Out(std::string& text) : text_(text) {}
    ~Utf8Out() { Finish(); }
    Utf8Out(const Utf8Out&) = delete;
    Utf8Out& operator=(const Utf8Out&) = delete;
    void Unit(WCHAR unit);
    void Units(const WCHAR* text, std::size_t length);
    void Ascii(const char* text, std::size_t length);
    // Ends a high surrogate still waiting for its partner.
    void Finish();

private:
    void Code(uint32_t c);

    std::string& text_;
    uint32_t high_ = 0;
};

// Units before the terminator; 0 for null.
inline std::size_t UnitsOf(const WCHAR* text) {
    std::size_t length = 0;
    while (text != nullptr && text[length] != 0) ++length;
    return length;
}

// Appends NUL-terminated text known to be ASCII.
template <class Out>
void AppendAscii(Out& out, const char* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    out.Ascii(text, length);
}

// Appends `length` units of `text` as one field; only the units a line keeps are read (at
// most kMaxFieldUnits), so a longer text may be passed as its first units and its length.
// A client id is also quoted when it holds ']', which would end its bracket in the line;
// `quoted` quotes any text.
template <class Out>
void AppendField(Out& out, const WCHAR* text, std::size_t length, bool clientId = false, bool quoted = false);
void AppendField(WideString& out, const WCHAR* text, std::size_t length, bool clientId = false, bool quoted = false);
// The same for 8-bit text, each byte read as Latin-1.
template <class Out>
void AppendNarrowField(Out& out, const char* text, std::size_t length);
// Appends one unit of a format's own text: as it is, or escaped if it could break the line.
template <class Out>
void AppendLiteral(Out& out, WCHAR unit);

// An argument as a line reads it: its text (null prints "(null)") with its full length, of
// which only the first kMaxFieldUnits units need be there, or its number.
struct FieldArg {
    LogArg::Kind kind;
    const void* text;  // char or WCHAR by kind
    std::size_t length;
    int32_t integer;
};
FieldArg FieldOf(const LogArg& arg);

// The message of a record: the format with its placeholders filled and fields escaped.
template <class Out>
void FormatMessageText(Out& out, const WCHAR* format, const FieldArg* args, std::size_t count);
void FormatMessageText(WideString& out, const WCHAR* format, const FieldArg* args, std::size_t count);

}  // namespace Qv::Corvane::Logging
