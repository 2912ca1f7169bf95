// Placeholder formatting shared by every record form.
#include "logging/Logging.h"

#include <string>

namespace Qv::Corvane::Logging {
namespace {

using WideString = std::basic_string<WCHAR>;

void AppendAscii(WideString& out, const char* text) {
    for (; *text; ++text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*text)));
}

void AppendArg(WideString& out, const LogArg& arg) {
    switch (arg.kind()) {
    case LogArg::Kind::Narrow:
        // 8-bit labels and class names are ASCII; other bytes are shown as Latin-1.
        AppendAscii(out, arg.narrow() ? arg.narrow() : "(null)");
        break;
    case LogArg::Kind::Wide:
        if (arg.wide()) {
            for (const WCHAR* p = arg.wide(); *p; ++p) out.push_back(*p);
        } else {
            AppendAscii(out, "(null)");
        }
        break;
    case LogArg::Kind::Integer:
        AppendAscii(out, std::to_string(arg.integer()).c_str());
        break;
    }
}

}  // namespace

std::size_t FormatLogMessage(const WCHAR* format, const LogArg* args, std::size_t count, WCHAR* out,
                             std::size_t capacity) {
    WideString text;
    std::size_t next = 0;
    if (!format) AppendAscii(text, "(null format)");
    for (const WCHAR* p = format; p && *p; ++p) {
        if (*p != u'%') {
            text.push_back(*p);
            continue;
        }
        const WCHAR spec = p[1];
        if (spec == u'%') {
            text.push_back(u'%');
            ++p;
        } else if (spec == u'S' || spec == u's' || spec == u'd') {
            // The argument prints by its own type: a mismatched letter never makes the
            // library reinterpret a pointer as a number or the other way round.
            if (next < count) {
                AppendArg(text, args[next++]);
            } else {
                AppendAscii(text, "(missing)");
            }
            ++p;
        } else {
            text.push_back(u'%');
        }
    }
    if (capacity > 0) {
        const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
        text.copy(out, n);
        out[n] = 0;
    }
    return text.size();
}

}  // namespace Qv::Corvane::Logging
