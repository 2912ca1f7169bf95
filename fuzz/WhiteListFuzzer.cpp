// The whitelist check alone, on arbitrary paths in both modes. Its verdicts must
// agree with what the lists promise whatever the text: any mode but Write is Read,
// ASCII case never matters, a refused path is never made acceptable by a change of
// case, an accepted path is well formed, and what is allowed stays allowed for every
// key below it.
#include "access/KestraneServiceWhiteList.h"
#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace Svc = Qv::Corvane::Server::Services;
using Svc::WhiteListAccessMode;
using Svc::Kestrane::KestraneServiceWhiteList;
using KestraneFuzz::WideText;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "whitelist property broken: %s\n", what);
    std::abort();
}

bool Allowed(WhiteListAccessMode mode, const WideText& path) {
    return KestraneServiceWhiteList::IsKeyPathInWhiteList(mode, path.c_str(), u"fuzz");
}

// No "." or ".." component, judged independently of the code under test.
bool HasDotComponent(const WideText& path) {
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(u'\\', start);
        const WideText part = path.substr(start, end == WideText::npos ? WideText::npos : end - start);
        if (part == u"." || part == u"..") return true;
        if (end == WideText::npos) return false;
        start = end + 1;
    }
}

WideText FlipAsciiCase(WideText path) {
    for (WCHAR& unit : path) {
        if (unit >= u'a' && unit <= u'z')
            unit = static_cast<WCHAR>(unit - 32);
        else if (unit >= u'A' && unit <= u'Z')
            unit = static_cast<WCHAR>(unit + 32);
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KESTRANE_LOG", "off", 1);
    return 0;
}

// Byte 0 picks a mode value besides Read and Write (any other value reads as Read);
// the rest is the path, as for the request fuzzer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto other = static_cast<WhiteListAccessMode>(size > 0 ? data[0] : 1);
    const WideText path = size > 1 ? KestraneFuzz::DecodeText(data + 1, size - 1) : WideText();
    // The check sees the text up to its first NUL, as it does from a request.
    const WideText seen = path.substr(0, path.find(u'\0'));

    for (WhiteListAccessMode mode : {WhiteListAccessMode::Read, WhiteListAccessMode::Write}) {
        const bool allowed = Allowed(mode, seen);
        if (Allowed(mode, FlipAsciiCase(seen)) != allowed) Fail("ASCII case changed the verdict");
        if (mode == WhiteListAccessMode::Read && other != WhiteListAccessMode::Write &&
            Allowed(other, seen) != allowed)
            Fail("a mode other than Write did not read as Read");
        if (!allowed) continue;
        if (seen.empty() || HasDotComponent(seen)) Fail("a malformed path was allowed");
        if (!Allowed(mode, seen + u"\\Below")) Fail("a key below an allowed key was refused");
    }
    return 0;
}
