// Placeholder formatting shared by every record form.
#include "logging/HotPath.h"
#include "logging/LogField.h"

#include <string>
#include <vector>

namespace Qv::Corvane::Logging {
namespace {

template <class Out>
void AppendArg(Out& out, const FieldArg& arg) {
    if (arg.kind == LogArg::Kind::Integer) {
        AppendAscii(out, std::to_string(arg.integer).c_str());
    } else if (arg.text == nullptr) {
        AppendAscii(out, "(null)");
    } else if (arg.kind == LogArg::Kind::Narrow) {
        // 8-bit labels and class names are ASCII; other bytes are read as Latin-1.
        AppendNarrowField(out, static_cast<const char*>(arg.text), arg.length);
    } else {
        AppendField(out, static_cast<const WCHAR*>(arg.text), arg.length);
    }
}

}  // namespace

KESTRANE_LOG_HOT FieldArg FieldOf(const LogArg& arg) {
    FieldArg field{arg.kind(), nullptr, 0, 0};
    switch (arg.kind()) {
    case LogArg::Kind::Narrow:
        // Counted here, not by the C runtime's strlen: one more library's code on every line.
        field.text = arg.narrow();
        while (arg.narrow() != nullptr && arg.narrow()[field.length] != 0) ++field.length;
        break;
    case LogArg::Kind::Wide:
        field.text = arg.wide();
        field.length = UnitsOf(arg.wide());
        break;
    case LogArg::Kind::Integer:
        field.integer = arg.integer();
        break;
    }
    return field;
}

template <class Out>
void FormatMessageText(Out& text, const WCHAR* format, const FieldArg* args, std::size_t count) {
    std::size_t next = 0;
    if (!format) {
        AppendAscii(text, "(null format)");
        return;
    }
    const WCHAR* p = format;
    for (;;) {
        // Printable ASCII, most of every format, goes in as one run.
        const WCHAR* run = p;
        while (*p >= 0x20 && *p < 0x7F && *p != u'%') ++p;
        text.Units(run, static_cast<std::size_t>(p - run));
        if (*p == 0) return;
        if (*p != u'%') {
            AppendLiteral(text, *p++);
            continue;
        }
        const WCHAR spec = p[1];
        if (spec == u'%') {
            text.Unit(u'%');
            p += 2;
        } else if (spec == u'S' || spec == u's' || spec == u'd') {
            // The argument prints by its own type: a mismatched letter never makes the
            // library reinterpret a pointer as a number or the other way round.
            if (next < count) {
                AppendArg(text, args[next++]);
            } else {
                AppendAscii(text, "(missing)");
            }
            p += 2;
        } else {
            text.Unit(u'%');
            ++p;
        }
    }
}

template void FormatMessageText(WideOut&, const WCHAR*, const FieldArg*, std::size_t);
template void FormatMessageText(Utf8Out&, const WCHAR*, const FieldArg*, std::size_t);

void FormatMessageText(WideString& out, const WCHAR* format, const FieldArg* args, std::size_t count) {
    WideOut to(out);
    FormatMessageText(to, format, args, count);
}

std::size_t FormatLogMessage(const WCHAR* format, const LogArg* args, std::size_t count, WCHAR* out,
                             std::size_t capacity) {
    std::vector<FieldArg> fields;
    for (std::size_t i = 0; i < count; ++i) fields.push_back(FieldOf(args[i]));
    WideString text;
    FormatMessageText(text, format, fields.data(), count);
    if (capacity > 0) {
        const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
        text.copy(out, n);
        out[n] = 0;
    }
    return text.size();
}

}  // namespace Qv::Corvane::Logging
