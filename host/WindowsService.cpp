#include "host/WindowsService.h"

#include "host/HostLog.h"
#include "host/MachineKeySecurity.h"

#include <windows.h>

#include <shlobj.h>

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
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

HostOptions g_options;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

void Report(DWORD state, DWORD exitCode) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 30000;
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
    Report(SERVICE_STOPPED, code == 0 ? 0 : ERROR_SERVICE_SPECIFIC_ERROR);
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

}  // namespace

int InstallService(const HostOptions& options) {
    // The service must never run over machine keys that users can change.
    if (SecureWriteListedKeys() != 0) return 1;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring command =
        Quoted(std::wstring(path, length)) + L" service --endpoint " + Quoted(options.endpoint);
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
    LogInfo(L"KestraneHost: installed as a service");
    std::printf("kestrane-host: installed service %ls (automatic start); start it now with: net start %ls\n", kServiceName, kServiceName);
    return 0;
}

int QuoteServiceCommandLine() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.Get() != nullptr
                              ? OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG)
                              : nullptr);
    if (service.Get() == nullptr) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
        std::fprintf(stderr, "kestrane-host: cannot open service %ls (error %lu)\n", kServiceName, GetLastError());
        return 1;
    }
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
