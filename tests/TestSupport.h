// What the tests share: UTF-16 text helpers, a capture of log records, and a service
// loaded the way a host loads it.
#pragma once

#include "host/ContractObjects.h"
#include "logging/Logging.h"
#include "platform/Win32.h"
#include "service/QVService.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace KestraneTest {

using WString = std::basic_string<WCHAR>;
namespace Svc = Qv::Corvane::Server::Services;

// UTF-8 to UTF-16 and back, so tests can be written with ordinary literals.
WString W(const std::string& utf8);
std::string U8(const WCHAR* text);
std::string U8(const WString& text);

struct CapturedLog {
    Qv::Corvane::Logging::LogLevel level;
    std::string clientId;
    std::string message;
};

// Records every log line written while it lives (one capture at a time).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedLog> Records() const;
    std::vector<std::string> Messages() const;
    void Clear();

private:
    static void Sink(void* context, const Qv::Corvane::Logging::LogRecord& record);
    mutable std::mutex lock_;
    std::vector<CapturedLog> records_;
};

// The service through the host contract only: the DLL's factory and the vtable.
// Under Windows the module is KestraneService.dll loaded with LoadLibraryW; natively
// it is the same code linked in.
class LoadedService {
public:
    LoadedService();
    ~LoadedService();
    LoadedService(const LoadedService&) = delete;
    LoadedService& operator=(const LoadedService&) = delete;

    Svc::QVService* get() const { return service_; }
    Svc::QVService* operator->() const { return service_; }

private:
    void* module_ = nullptr;
    Svc::QVService* service_ = nullptr;
};

struct Reply {
    uint32_t status;
    bool hasText;      // false when the module stored null in the response pointer
    std::string text;  // UTF-8 of the response
};

// One request through ExecuteCommand on a fresh context with the given client id.
Reply Execute(Svc::QVService* service, int32_t functionId, const std::string& requestUtf8,
              Svc::AccessPolicy* policy = nullptr, const std::string& clientId = "test-client");

// True where the platform behaves as Wine does: under Wine, and natively, where the
// emulation copies Wine. For the few places where Wine is known to differ from Windows.
bool WineBehaviour();

// Opens a file or folder to others: under Windows full control for Everyone; natively
// write for others alone, the group not at all, so that a check of the group's bits alone
// would miss it.
bool LetEveryoneWrite(const std::filesystem::path& path);

// An AccessPolicy with a fixed answer that counts how often it was asked.
using FixedPolicy = Kestrane::Host::FixedAccessPolicy;

}  // namespace KestraneTest
