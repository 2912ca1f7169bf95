// A program of the build (the host, the CLI) as a child process of the test: started
// suspended (so the test can look at it before it runs), its output kept in a file, and
// never outliving the test.
#pragma once

#include "access/ScopedHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace KestraneTest {

class ProbeProcess {
public:
    // program from the folder of the running test program (or any, by its full path), with
    // these arguments; it does not run until Resume.
    ProbeProcess(const std::vector<std::wstring>& arguments, const std::wstring& program);
    // A child still running is terminated, and waited for (bounded).
    ~ProbeProcess();
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    // 0 once started, else the last error of the failing step.
    DWORD StartError() const { return startError_; }
    DWORD Pid() const { return pid_; }
    bool Resume();
    // False when it had not ended within timeoutMs; it is then terminated.
    bool Wait(DWORD timeoutMs, DWORD* exitCode);

    // Everything it wrote to standard output and standard error.
    std::string Output() const;

private:
    using ScopedHandle = Qv::Corvane::Server::Services::Kestrane::ScopedHandle;

    std::wstring outputPath_;
    ScopedHandle process_;
    ScopedHandle thread_;
    DWORD pid_ = 0;
    DWORD startError_ = 0;
};

}  // namespace KestraneTest
