// A key of the test's own under a whitelisted path, made fresh for each test and
// removed with everything below it afterwards, plus direct registry access so the
// tests can set up and check data without going through the commands.
#pragma once

#include "tests/TestSupport.h"

#include <vector>

namespace KestraneTest {

using Bytes = std::vector<BYTE>;

// HKEY_LOCAL_MACHINE\SOFTWARE\QV\KestraneTest\<name>: readable and writable by the
// commands. Natively the emulated registry is reset first.
class ScratchKey {
public:
    explicit ScratchKey(const std::string& name);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    // The key path a request names, for the key itself or a relative path below it.
    std::string Path(const std::string& below = "") const;
    // The same below HKEY_LOCAL_MACHINE, for the direct calls.
    WString SubKey(const std::string& below = "") const;

    void CreateKey(const std::string& below) const;
    void SetValue(const std::string& name, DWORD type, const Bytes& data, const std::string& below = "") const;
    void SetString(const std::string& name, const std::string& text, DWORD type = REG_SZ) const;
    // False when the value is missing; otherwise its type and bytes as stored.
    bool GetValue(const std::string& name, DWORD* type, Bytes* data, const std::string& below = "") const;
    bool KeyExists(const std::string& below) const;

private:
    std::string name_;
};

// Removes a key and everything below it (the commands only delete leaf keys).
void DeleteTree(HKEY root, const WString& subKey);

#ifdef _WIN32
// Makes root\subKey a registry link to `target` (\Registry\...): ERROR_SUCCESS or the
// failing call's result. Volatile links go with the wineserver.
LSTATUS CreateRegistryLink(HKEY root, const WString& subKey, const WString& target, bool isVolatile = true);
// Owner and DACL of HKEY_LOCAL_MACHINE\subKey as SDDL, a link read as itself; "(none)" for
// a key that cannot be opened.
WString KeySddl(const WString& subKey);
#endif

// A JSON string literal for the text, with backslashes and quotes escaped.
std::string Quote(const std::string& text);

// Request texts. Each names expandString, so a read logs only its own lines.
namespace Req {
std::string Key(const std::string& path);
std::string Value(const std::string& path, const std::string& name);
std::string Write(const std::string& path, const std::string& name, int type, const std::string& dataJson);
}  // namespace Req

// The beginning of the lines the commands log.
inline const std::string kServicePrefix = "Qv::Corvane::Server::Services::Kestrane::KestraneService.";

// One request and everything it must give: status, response text (nullptr: any) and
// the exact log lines.
struct ReplyRow {
    int32_t id;
    std::string request;
    uint32_t status;
    const char* text;
    std::vector<std::string> log;
};
void ExpectReplies(Svc::QVService* service, const std::vector<ReplyRow>& rows, Svc::AccessPolicy* policy = nullptr);

// UTF-16 code units as registry bytes, with no terminator unless given.
Bytes UnitBytes(const WString& units);

}  // namespace KestraneTest
