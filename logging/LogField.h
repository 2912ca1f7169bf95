// Outside texts written into a log line as fields (the rules are in Logging.h).
#pragma once

#include "logging/Logging.h"

#include <string>

namespace Qv::Corvane::Logging {

using WideString = std::basic_string<WCHAR>;

// Appends `length` units of `text` as one field; only the units a line keeps are read (at
// most kMaxFieldUnits), so a longer text may be passed as its first units and its length. A client id is also quoted when it
// holds ']', which would end its bracket in the line; `quoted` quotes any text.
void AppendField(WideString& out, const WCHAR* text, std::size_t length, bool clientId = false, bool quoted = false);
// The same for 8-bit text, each byte read as Latin-1.
void AppendNarrowField(WideString& out, const char* text, std::size_t length);

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
void FormatMessageText(WideString& out, const WCHAR* format, const FieldArg* args, std::size_t count);
// Appends one unit of a format's own text: as it is, or escaped if it could break the line.
void AppendLiteral(WideString& out, WCHAR unit);

}  // namespace Qv::Corvane::Logging
