#include "host/WindowsService.h"

#include "host/HostLog.h"
#include "host/MachineKeySecurity.h"
#include "rpc/EndpointBinding.h"

#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace Kestrane::Host {

namespace {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ServiceHandle(ServiceHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

HostOptions g_options;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

// How long the service manager is told to wait between two reports of a pending state.
constexpr DWORD kPendingWaitHintMs = 30000;

// A non-zero host exit code (kestrane-host's own: 1 failed, 3 endpoint taken) reaches the
// service manager as ERROR_SERVICE_SPECIFIC_ERROR with that code beside it, which is what
// "sc query" shows. A pending state carries a check point that grows with each report, so
// the manager can tell a start or stop that progresses from one that hangs.
void Report(DWORD state, DWORD hostExitCode) {
    static std::atomic<DWORD> checkPoint{0};  // reports come from the control handler's thread too
    const bool pending = state != SERVICE_RUNNING && state != SERVICE_STOPPED;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = hostExitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = hostExitCode;
    status.dwCheckPoint = pending ? ++checkPoint : 0;
    status.dwWaitHint = pending ? kPendingWaitHintMs : 0;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING, 0);
        RpcHost::RequestStop();
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void ReportRunning() { Report(SERVICE_RUNNING, 0); }

void WINAPI ServiceMain(DWORD, wchar_t**) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, OnControl, nullptr);
    if (g_statusHandle == nullptr) return;
    Report(SERVICE_START_PENDING, 0);
    const int code = Serve(g_options, ReportRunning);
    Report(SERVICE_STOPPED, static_cast<DWORD>(code));
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The log goes below %ProgramData%. Windows gives every service the system's environment;
// Wine's service manager starts services without that variable, and the service would log
// nothing. Filled in from the shell's folder, before the first line is written.
void ProvideProgramDataVariable() {
    if (_wgetenv(L"ProgramData") != nullptr) return;
    wchar_t folder[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        _wputenv((std::wstring(L"ProgramData=") + folder).c_str());
}

// What the service manager does when the host ends without being asked to: restart it
// after kRestartDelayMs, twice, then every kLaterRestartDelayMs, the count starting afresh
// after a day without failure. Also when the host stops itself with an error (the endpoint
// taken, the module missing), not only when it crashes: the cause may well pass.
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kLaterRestartDelayMs = 60000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

bool SetRecovery(SC_HANDLE service) {
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kLaterRestartDelayMs}};  // the last one repeats
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = kFailureCountResetSeconds;
    failure.cActions = sizeof actions / sizeof actions[0];
    failure.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) return false;
    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit = {TRUE};
    if (ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit)) return true;
    // Wine's service manager knows no such setting (nor restarts anything at all).
    const DWORD error = GetLastError();
    const bool wine = RunningUnderWine();
    SetLastError(error);
    return wine && error == ERROR_INVALID_LEVEL;
}

// The installed service opened for access; a null handle when it cannot be, with *result 0
// when there is no such service (nothing to change) and 1 after saying why.
ServiceHandle OpenInstalledService(DWORD access, int* result) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.Get() != nullptr ? OpenServiceW(manager.Get(), kServiceName, access) : nullptr);
    if (service.Get() == nullptr) {
        *result = GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : 1;
        if (*result != 0)
            std::fprintf(stderr, "kestrane-host: cannot open service %ls (error %lu)\n", kServiceName, GetLastError());
    }
    return service;
}

}  // namespace

int InstallService(const HostOptions& options) {
    // The service must never run over machine keys that users can change.
    if (SecureWriteListedKeys() != 0) return 1;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring command = Quoted(std::wstring(path, length)) + L" service" +
                                 (options.endpoint.empty() ? L"" : L" --endpoint " + Quoted(options.endpoint));
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.Get() == nullptr) {
        std::fprintf(stderr, "kestrane-host: cannot open the service manager (error %lu); run as administrator\n",
                     GetLastError());
        return 1;
    }
    ServiceHandle service(CreateServiceW(manager.Get(), kServiceName, L"Kestrane registry host", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service.Get() == nullptr) {
        std::fprintf(stderr, "kestrane-host: cannot create the service (error %lu)\n", GetLastError());
        return 1;
    }
    if (!SetRecovery(service.Get())) {
        std::fprintf(stderr, "kestrane-host: cannot set the service's restart on failure (error %lu)\n",
                     GetLastError());
        DeleteService(service.Get());  // no service left that would stay down after a failure
        return 1;
    }
    LogInfo(L"KestraneHost: installed as a service");
    std::printf("kestrane-host: installed service %ls (automatic start); start it now with: net start %ls\n", kServiceName, kServiceName);
    return 0;
}

int QuoteServiceCommandLine() {
    int opened = 0;
    const ServiceHandle service = OpenInstalledService(SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG, &opened);
    if (service.Get() == nullptr) return opened;
    DWORD needed = 0;
    QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed == 0 || !QueryServiceConfigW(service.Get(), config, needed, &needed)) {
        std::fprintf(stderr, "kestrane-host: cannot read service %ls (error %lu)\n", kServiceName, GetLastError());
        return 1;
    }
    const std::wstring command = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    wchar_t path[MAX_PATH];
    const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    const bool unquoted = command.size() >= program.size() &&
                          _wcsnicmp(command.c_str(), program.c_str(), program.size()) == 0 &&
                          (command.size() == program.size() || command[program.size()] == L' ');
    if (!unquoted) return 0;
    const std::wstring quoted = Quoted(program) + command.substr(program.size());
    if (!ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, quoted.c_str(),
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        std::fprintf(stderr, "kestrane-host: cannot quote the command line of service %ls (error %lu)\n",
                     kServiceName, GetLastError());
        LogError(L"KestraneHost: cannot quote the service's command line");
        return 1;
    }
    std::printf("kestrane-host: quoted the program path in the command line of service %ls\n", kServiceName);
    LogInfo(L"KestraneHost: quoted the service's command line");
    return 0;
}

int ConfigureServiceRecovery() {
    int opened = 0;
    // Restart actions need the right to start the service on the handle that sets them.
    const ServiceHandle service = OpenInstalledService(SERVICE_CHANGE_CONFIG | SERVICE_START, &opened);
    if (service.Get() == nullptr) return opened;
    if (!SetRecovery(service.Get())) {
        std::fprintf(stderr, "kestrane-host: cannot set the restart on failure of service %ls (error %lu)\n",
                     kServiceName, GetLastError());
        LogError(L"KestraneHost: cannot set the service's restart on failure");
        return 1;
    }
    std::printf("kestrane-host: service %ls restarts on failure\n", kServiceName);
    return 0;
}

int UninstallService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.Get() != nullptr ? OpenServiceW(manager.Get(), kServiceName, DELETE) : nullptr);
    if (service.Get() == nullptr || !DeleteService(service.Get())) {
        std::fprintf(stderr, "kestrane-host: cannot remove service %ls (error %lu)\n", kServiceName, GetLastError());
        return 1;
    }
    LogInfo(L"KestraneHost: service removed");
    std::printf("kestrane-host: removed service %ls\n", kServiceName);
    return 0;
}

int RunAsService(const HostOptions& options) {
    g_options = options;
    ProvideProgramDataVariable();
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr, "kestrane-host: 'service' is for the service manager; use 'run' in a console\n");
        return 2;
    }
    return 0;
}

}  // namespace Kestrane::Host
