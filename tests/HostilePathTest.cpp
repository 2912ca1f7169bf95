// Paths a hostile client would try, through the full commands in read mode (id 4) and
// write mode (id 64). Each row is a variation of a listed prefix whose expected status
// follows from what it does to the prefix; every allowed row ends in a key that does
// not exist, so an allowed path shows as OpenKeyFailed and nothing is changed.
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

struct Base {
    std::string path;
    bool read;   // in the read list
    bool write;  // in the write list
};

enum class Effect {
    Keeps,      // the lists see the prefix unchanged
    Refused,    // no list may allow it
    LowerRoot,  // the lists allow it as the prefix does, the root name no longer resolves
};

struct Variant {
    const char* label;
    std::string (*make)(const std::string& base);
    Effect effect;
};

const std::string kLeaf = "KestraneNope";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}
std::string AfterRoot(const std::string& b) { return b.substr(b.find('\\')); }

const Variant kVariants[] = {
    {"plain", [](const std::string& b) { return b + "\\" + kLeaf; }, Effect::Keeps},
    {"the prefix itself", [](const std::string& b) { return b + "NoSuchSibling\\" + kLeaf; }, Effect::Keeps},
    {"tail case", [](const std::string& b) { return b.substr(0, b.find('\\')) + Lower(AfterRoot(b)) + "\\" + kLeaf; },
     Effect::Keeps},
    {"all lower", [](const std::string& b) { return Lower(b) + "\\" + kLeaf; }, Effect::LowerRoot},
    {"dot", [](const std::string& b) { return b + "\\.\\" + kLeaf; }, Effect::Refused},
    {"dot dot", [](const std::string& b) { return b + "\\..\\" + kLeaf; }, Effect::Refused},
    {"dot dot at the end", [](const std::string& b) { return b + "\\" + kLeaf + "\\.."; }, Effect::Refused},
    {"dot dot up and back", [](const std::string& b) { return b + "\\..\\" + b.substr(b.rfind('\\') + 1) + "\\" + kLeaf; },
     Effect::Refused},
    {"three dots", [](const std::string& b) { return b + "\\...\\" + kLeaf; }, Effect::Keeps},
    {"dot space", [](const std::string& b) { return b + "\\. \\" + kLeaf; }, Effect::Keeps},
    {"dot name", [](const std::string& b) { return b + "\\.hidden\\" + kLeaf; }, Effect::Keeps},
    {"doubled backslash", [](const std::string& b) { return b + "\\\\" + kLeaf; }, Effect::Keeps},
    {"trailing backslash", [](const std::string& b) { return b + "\\" + kLeaf + "\\"; }, Effect::Keeps},
    {"leading backslash", [](const std::string& b) { return "\\" + b + "\\" + kLeaf; }, Effect::Refused},
    {"forward slashes", [](const std::string& b) { return ReplaceAll(b, "\\", "/") + "/" + kLeaf; }, Effect::Refused},
    {"one forward slash", [](const std::string& b) { return b + "/" + kLeaf; }, Effect::Keeps},
    {"short root", [](const std::string& b) { return ReplaceAll(ReplaceAll(ReplaceAll(ReplaceAll(b,
        "HKEY_LOCAL_MACHINE", "HKLM"), "HKEY_CURRENT_USER", "HKCU"), "HKEY_USERS", "HKU"), "HKEY_CLASSES_ROOT", "HKCR")
        + "\\" + kLeaf; }, Effect::Refused},
    {"cut prefix", [](const std::string& b) { return b.substr(0, b.size() - 1) + "\\" + kLeaf; }, Effect::Refused},
    {"space before", [](const std::string& b) { return " " + b + "\\" + kLeaf; }, Effect::Refused},
    {"embedded NUL hides the rest", [](const std::string& b) { return b + "\\" + kLeaf + std::string(1, '\0') +
                                                                     "\\..\\..\\SAM"; }, Effect::Keeps},
    {"NUL inside the prefix", [](const std::string& b) { return b.substr(0, b.size() - 2) + std::string(1, '\0') +
                                                               b.substr(b.size() - 2) + "\\" + kLeaf; },
     Effect::Refused},
    {"fullwidth backslash", [](const std::string& b) { return b + "\xEF\xBC\xBC" + kLeaf; }, Effect::Keeps},
    {"fullwidth backslash in the prefix", [](const std::string& b) { return ReplaceAll(b, "\\", "\xEF\xBC\xBC") +
                                                                           "\\" + kLeaf; }, Effect::Refused},
    {"KELVIN SIGN for K", [](const std::string& b) { return ReplaceAll(b, "HKEY", "H\xE2\x84\xAA" "EY") + "\\" + kLeaf; },
     Effect::Refused},
    {"fullwidth last letter", [](const std::string& b) {
         // ASCII letters only fold among themselves: U+FF41.. is not 'a'..
         const char last = static_cast<char>(std::tolower(static_cast<unsigned char>(b.back())));
         return b.substr(0, b.size() - 1) + "\xEF\xBD" + static_cast<char>(0x81 + (last - 'a')) + "\\" + kLeaf; },
     Effect::Refused},
    {"non-BMP leaf", [](const std::string& b) { return b + "\\\xF0\x9F\x98\x80" + kLeaf; }, Effect::Keeps},
    {"lone surrogate leaf", [](const std::string& b) { return b + "\\\xED\xA0\x80" + kLeaf; }, Effect::Keeps},
    {"255-unit component", [](const std::string& b) { return b + "\\" + kLeaf + std::string(255 - kLeaf.size(), 'a'); },
     Effect::Keeps},
    {"256-unit component", [](const std::string& b) { return b + "\\" + kLeaf + std::string(256 - kLeaf.size(), 'a'); },
     Effect::Keeps},
    {"path over 32767 units", [](const std::string& b) {
         std::string p = b + "\\" + kLeaf;
         while (p.size() <= 32767) p += "\\" + std::string(200, 'p');
         return p; }, Effect::Keeps},
};

const Base kBases[] = {
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\QV", true, true},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\StarSoftComm", true, false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Conexant\\SA3\\Mixer", false, true},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Mcafee\\MSC\\AppInfo", true, true},
    {"HKEY_CURRENT_USER\\SOFTWARE\\QV", true, true},
    {"HKEY_USERS\\S-1-5-18\\Control Panel\\International\\Geo", true, false},
    {"HKEY_CLASSES_ROOT\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppModel\\Repository\\Packages",
     true, false},
};

uint32_t Expected(const Base& base, Effect effect, bool listed) {
    if (effect == Effect::Refused || !listed) return Svc::NotWhiteListed;
    // Outside an RPC call no caller's hive exists, so a current-user root never resolves.
    if (effect == Effect::LowerRoot || base.path.rfind("HKEY_CURRENT_USER", 0) == 0) return Svc::RootKeyNotFound;
    return Svc::OpenKeyFailed;
}

// The path as a JSON string (UTF-8 here; Execute turns it back into UTF-16). Control units must be escaped; everything else goes in
// as raw UTF-16 units, lone surrogates too (the parser does not validate encoding).
std::string JsonPath(const WString& path) {
    std::string out = "\"";
    for (WCHAR unit : path) {
        char escaped[8];
        if (unit == '\\' || unit == '"') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit < 0x20) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            out += escaped;
        } else {
            out += U8(WString(1, unit));
        }
    }
    return out + "\"";
}

}  // namespace

TEST(HostilePaths, EveryVariationOfEveryListedPrefixGetsItsStatus) {
    ScratchKey scratch("HostilePaths");  // natively, a fresh registry
    LoadedService service;
    std::size_t rows = 0;
    for (const Base& base : kBases) {
        for (const Variant& variant : kVariants) {
            const WString path = W(variant.make(base.path));
            const std::string json = JsonPath(path);
            const Reply read = Execute(service.get(), 4, "{\"keyPath\":" + json + ",\"regKeyValueName\":\"v\"}");
            EXPECT_EQ(read.status, Expected(base, variant.effect, base.read)) << variant.label << ": " << base.path;
            const Reply write = Execute(service.get(), 64, "{\"keyPath\":" + json + ",\"regKeyValueName\":\"v\"}");
            EXPECT_EQ(write.status, Expected(base, variant.effect, base.write)) << variant.label << ": " << base.path;
            EXPECT_EQ(read.text, "{}");
            EXPECT_EQ(write.text, "{}");
            ++rows;
        }
    }
    EXPECT_GE(rows, 200u);
}
