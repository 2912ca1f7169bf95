#include "tests/rpc/ProbeProcess.h"

#include <atomic>

namespace KestraneTest {
namespace {

constexpr DWORD kTerminateWaitMs = 10000;

std::wstring ProgramFolder() {
    wchar_t path[4 * MAX_PATH];
    const std::wstring full(path, GetModuleFileNameW(nullptr, path, 4 * MAX_PATH));
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

std::wstring OutputFilePath() {
    static std::atomic<unsigned> count{0};
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return std::wstring(folder, length) + L"kestrane-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(count++) + L".txt";
}

// The command-line form of one argument that the child's argv parsing gives back as is.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    // Backslashes are literal except before a quote, where each one must be doubled.
    std::wstring quoted = L"\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted.push_back(argument[i]);
    }
    quoted.push_back(L'"');
    return quoted;
}

}  // namespace

ProbeProcess::ProbeProcess(const std::vector<std::wstring>& arguments, const std::wstring& name)
    : outputPath_(OutputFilePath()) {
    const std::wstring program = name.find(L'\\') == std::wstring::npos ? ProgramFolder() + name : name;
    std::wstring commandLine = QuoteArgument(program);
    for (const std::wstring& argument : arguments) commandLine += L" " + QuoteArgument(argument);

    // Closed once the child has its copy, so that no child started later inherits it too.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const ScopedHandle output(CreateFileW(outputPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!output.IsValid()) {
        startError_ = GetLastError();
        return;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started)) {
        startError_ = GetLastError();
        return;
    }
    *process_.Put() = started.hProcess;
    *thread_.Put() = started.hThread;
    pid_ = started.dwProcessId;
}

ProbeProcess::~ProbeProcess() {
    DWORD exitCode = 0;
    Wait(0, &exitCode);  // one still running is ended
    DeleteFileW(outputPath_.c_str());
}

bool ProbeProcess::Resume() { return thread_.IsValid() && ResumeThread(thread_.Get()) != static_cast<DWORD>(-1); }

bool ProbeProcess::Wait(DWORD timeoutMs, DWORD* exitCode) {
    *exitCode = STILL_ACTIVE;
    if (!process_.IsValid()) return false;
    if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.Get(), 99);
        WaitForSingleObject(process_.Get(), kTerminateWaitMs);
        return false;
    }
    return GetExitCodeProcess(process_.Get(), exitCode) != 0;
}

std::string ProbeProcess::Output() const {
    ScopedHandle file(CreateFileW(outputPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::string text;
    if (!file.IsValid()) return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

}  // namespace KestraneTest
