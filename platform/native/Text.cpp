// Text rules the registry and the environment share: Wine's case folding and
// ExpandEnvironmentStringsW over a small fixed environment.
#include "platform/native/EmuCore.h"

#include <utility>

namespace KestraneEmu::Detail {
namespace {

char16_t ToLower(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    // Latin-1, Greek and Cyrillic capitals: enough for names a test can write.
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    return c;
}

// What a Wine prefix's processes see; unknown names stay as written.
const std::pair<const char16_t*, const char16_t*> kEnvironment[] = {
    {u"SystemRoot", u"C:\\windows"},
    {u"windir", u"C:\\windows"},
    {u"SystemDrive", u"C:"},
    {u"ProgramFiles", u"C:\\Program Files"},
    {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
    {u"ProgramData", u"C:\\ProgramData"},
    {u"ALLUSERSPROFILE", u"C:\\ProgramData"},
    {u"PUBLIC", u"C:\\users\\Public"},
};

const char16_t* Lookup(const std::u16string& name) {
    if (name.empty()) return nullptr;
    const std::u16string folded = FoldCase(name);
    for (const auto& [variable, value] : kEnvironment)
        if (FoldCase(variable) == folded) return value;
    return nullptr;
}

}  // namespace

std::u16string FoldCase(const std::u16string& text) {
    std::u16string folded(text);
    for (char16_t& c : folded) c = ToLower(c);
    return folded;
}

std::u16string ExpandEnvironmentText(const std::u16string& text) {
    // Wine's rule: %NAME% with a known NAME becomes its value; an unknown one,
    // "%%" included, is copied with both percent signs and scanning goes on after
    // the second; a '%' with no partner is copied with the rest of the text.
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != u'%') {
            out += text[i++];
            continue;
        }
        const std::size_t close = text.find(u'%', i + 1);
        if (close == std::u16string::npos) {
            out += text.substr(i);
            break;
        }
        const char16_t* value = Lookup(text.substr(i + 1, close - i - 1));
        out += value ? std::u16string(value) : text.substr(i, close - i + 1);
        i = close + 1;
    }
    return out;
}

}  // namespace KestraneEmu::Detail
