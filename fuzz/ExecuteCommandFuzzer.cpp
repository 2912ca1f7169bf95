// Arbitrary requests through ExecuteCommand, the way a host hands them over, against
// a small emulated registry rebuilt for every input so runs stay independent and
// bounded. Beyond the sanitizers, each answer must keep the contract: a known status,
// no text after a parse failure and a JSON object otherwise, and nothing left open.
#include "fuzz/FuzzInput.h"
#include "host/ContractObjects.h"
#include "json/Json.h"
#include "platform/native/Emulation.h"
#include "service/QVService.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace Svc = Qv::Corvane::Server::Services;

namespace {

// Calls the emulation can fail, picked by the high nibble of the flags byte.
const char* const kFaultable[16] = {
    "RegOpenKeyExW",    "RegQueryInfoKeyW",   "RegEnumValueW",        "RegEnumKeyExW",
    "RegGetValueW",     "RegQueryValueExW",   "RegCreateKeyExW",      "RegSetValueExW",
    "RegDeleteKeyW",    "RegDeleteKeyValueW", "CryptBinaryToStringW", "CryptStringToBinaryW",
    "OpenProcessToken", "GetTokenInformation", "ConvertSidToStringSidW", "malloc",
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
}

void SetValue(HKEY key, const char16_t* name, DWORD type, const void* data, DWORD size) {
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

// A key of every value type under both an HKLM and the caller's HKCU whitelisted path;
// the seeds name these keys and values.
void Populate() {
    const char16_t* const paths[] = {u"SOFTWARE\\QV\\Fuzz", u"SOFTWARE\\QV\\Fuzz\\Child"};
    const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_USERS};
    const std::u16string userPrefix = std::u16string(KestraneEmu::kDefaultUserSid) + u"\\";
    for (HKEY root : roots) {
        for (const auto& path : paths) {
            const std::u16string subKey = (root == HKEY_USERS ? userPrefix : u"") + path;
            HKEY key = nullptr;
            if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
                ERROR_SUCCESS)
                Fail("populate");
            const char16_t text[] = u"text";
            const char16_t expand[] = u"%SystemRoot%\\x";
            const char16_t multi[] = u"a\0bc\0";
            const uint32_t dword = 0xFFFFFFFFu;
            const uint64_t qword = 0x8000000000000000ull;
            const unsigned char blob[49] = {1, 2, 3};
            SetValue(key, u"Text", REG_SZ, text, sizeof text);
            SetValue(key, u"Expand", REG_EXPAND_SZ, expand, sizeof expand);
            SetValue(key, u"Multi", REG_MULTI_SZ, multi, sizeof multi);
            SetValue(key, u"Dword", REG_DWORD, &dword, sizeof dword);
            SetValue(key, u"Qword", REG_QWORD, &qword, sizeof qword);
            SetValue(key, u"Blob", REG_BINARY, blob, sizeof blob);
            SetValue(key, u"Big", REG_DWORD_BIG_ENDIAN, &dword, sizeof dword);
            SetValue(key, u"Empty", REG_NONE, nullptr, 0);
            SetValue(key, u"", REG_SZ, text, sizeof text);
            RegCloseKey(key);
        }
    }
}

bool KnownStatus(int32_t functionId, uint32_t status) {
    if (status == Svc::Success || (status >= Svc::UnsupportedFunction && status <= Svc::InvalidJson)) return true;
    // Deleting a key passes the registry's own error number through.
    return functionId == 32 && status < 0x10000;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("KESTRANE_LOG", "off", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Svc::QVService* const service = QVCreateService();
    const KestraneFuzz::Request request = KestraneFuzz::DecodeRequest(data, size);

    KestraneEmu::ResetRegistry();
    Populate();
    KestraneEmu::SetRpcClientPid((request.flags & KestraneFuzz::kRpcCaller) ? static_cast<DWORD>(getpid()) : 0);
    if (request.flags & 8) KestraneEmu::FailCall(kFaultable[request.flags >> 4], 1, ERROR_ACCESS_DENIED);
    Kestrane::Host::FixedAccessPolicy policy((request.flags & KestraneFuzz::kPolicyExempt) != 0);
    // Too large for the object's own storage: destroyed twice it is a heap fault, not at all it keeps its target.
    Kestrane::Host::CallbackArgument callback([padding = std::array<char, 64>{}](const WCHAR*) { (void)padding; });

    Svc::ClientContext* context = nullptr;
    service->CreateClientContext(u"fuzz", &context);
    WCHAR* out = nullptr;
    const uint32_t status = service->ExecuteCommand(context, request.functionId, request.text.c_str(), &out,
                                                    callback.get(),
                                                    (request.flags & KestraneFuzz::kHasPolicy) ? &policy : nullptr);
    service->ReleaseClientContext(&context);
    if (callback.get()->target) Fail("callback not destroyed");
    KestraneEmu::SetRpcClientPid(0);
    KestraneEmu::ClearFaults();

    if (!KnownStatus(request.functionId, status)) Fail("unknown status");
    if (status == Svc::InvalidJson) {
        if (out) Fail("text after a parse failure");
    } else if (status != Svc::GeneralFailure || out) {
        // An out-of-memory GeneralFailure may come without text; every other answer has some.
        if (!out) Fail("no response text");
        Svc::JsonDocument reply;
        Svc::JsonStringStream stream(out);
        reply.ParseStream<rapidjson::kParseIterativeFlag>(stream);
        if (reply.HasParseError() || !reply.IsObject()) Fail("response is not a JSON object");
        if (std::getenv("KESTRANE_FUZZ_TRACE")) {  // for triage: what a replayed input was answered
            std::fprintf(stderr, "id %d status 0x%x: ", request.functionId, status);
            for (const WCHAR* unit = out; *unit; ++unit) std::fputc(*unit < 0x80 ? *unit : '?', stderr);
            std::fputc('\n', stderr);
        }
        service->FreeOutString(out);
    }
    if (KestraneEmu::OpenKeyCount() != 0) Fail("registry key left open");
    if (KestraneEmu::OpenHandleCount() != 0) Fail("process or token handle left open");
    if (KestraneEmu::LocalAllocCount() != 0) Fail("SID text left allocated");
    return 0;
}
