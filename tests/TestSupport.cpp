#include "tests/TestSupport.h"

#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#else
#include <sys/stat.h>
#endif

namespace KestraneTest {

WString W(const std::string& utf8) {
    WString out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        std::size_t extra = 0;
        if (c >= 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        }
        for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(cp));
        }
    }
    return out;
}

std::string U8(const WString& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string U8(const WCHAR* text) { return text ? U8(WString(text)) : std::string("(null)"); }

LogCapture::LogCapture() { Qv::Corvane::Logging::SetLogSink(&LogCapture::Sink, this); }
LogCapture::~LogCapture() { Qv::Corvane::Logging::SetLogSink(nullptr, nullptr); }

void LogCapture::Sink(void* context, const Qv::Corvane::Logging::LogRecord& record) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> guard(self->lock_);
    self->records_.push_back(CapturedLog{record.level, U8(record.clientId), U8(record.message)});
}

std::vector<CapturedLog> LogCapture::Records() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> out;
    for (const CapturedLog& r : Records()) out.push_back(r.message);
    return out;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    records_.clear();
}

bool WineBehaviour() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return true;
#endif
}

LoadedService::LoadedService() {
#ifdef _WIN32
    HMODULE module = LoadLibraryW(L"KestraneService.dll");
    module_ = module;
    if (!module) {
        ADD_FAILURE() << "LoadLibraryW(KestraneService.dll) failed: " << GetLastError();
        return;
    }
    using Factory = Svc::QVService* (*)();
    auto factory = reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module, "QVCreateService")));
    if (!factory) {
        ADD_FAILURE() << "QVCreateService is not exported";
        return;
    }
    service_ = factory();
#else
    service_ = QVCreateService();
#endif
}

LoadedService::~LoadedService() {
    if (service_) service_->DeletingDestructor(Svc::kDeleteStorage);
#ifdef _WIN32
    if (module_) FreeLibrary(static_cast<HMODULE>(module_));
#endif
}

Reply Execute(Svc::QVService* service, int32_t functionId, const std::string& requestUtf8, Svc::AccessPolicy* policy,
              const std::string& clientId) {
    const WString id = W(clientId);
    const WString request = W(requestUtf8);
    Svc::ClientContext* context = nullptr;
    service->CreateClientContext(id.c_str(), &context);
    WCHAR* out = reinterpret_cast<WCHAR*>(&out);  // a sentinel: the module must overwrite it or leave it
    const uint32_t status = service->ExecuteCommand(context, functionId, request.c_str(), &out,
                                                    Kestrane::Host::CallbackArgument().get(), policy);
    Reply reply{status, out != nullptr, {}};
    if (out == reinterpret_cast<WCHAR*>(&out)) {
        reply.hasText = false;
        reply.text = "(untouched)";
    } else if (out) {
        reply.text = U8(out);
        service->FreeOutString(out);
    }
    service->ReleaseClientContext(&context);
    return reply;
}

bool LetEveryoneWrite(const std::filesystem::path& path) {
#ifdef _WIN32
    EXPLICIT_ACCESS_W access = {};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = const_cast<wchar_t*>(L"Everyone");
    PACL dacl = nullptr;
    if (SetEntriesInAclW(1, &access, nullptr, &dacl) != ERROR_SUCCESS) return false;
    const DWORD result = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    LocalFree(dacl);
    return result == ERROR_SUCCESS;
#else
    return chmod(path.c_str(), std::filesystem::is_directory(path) ? 0703 : 0602) == 0;
#endif
}

}  // namespace KestraneTest
