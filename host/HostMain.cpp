// kestrane-host: loads KestraneService.dll and serves it to local clients over RPC.
//
//   kestrane-host run [--endpoint NAME] [--allow-stop]    in this console, until Ctrl-C
//   kestrane-host install [--endpoint NAME] | uninstall    as a Windows service
//   kestrane-host secure                                   secure the log folder, the write-listed
//                                                          machine keys and the service's command
//                                                          line, set its restart on failure
//   kestrane-host service                                  what the service manager starts
//
// Without --endpoint the host listens on an endpoint the runtime names and registers it
// with the endpoint mapper, where clients that give no endpoint find it.
//
// Exit code 3: another server already answers on the endpoint.
#include "host/HostLog.h"
#include "host/LogFolderSetup.h"
#include "host/MachineKeySecurity.h"
#include "host/ModuleLoader.h"
#include "host/RpcHost.h"
#include "host/WindowsService.h"
#include "logging/Logging.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;
constexpr int kEndpointTaken = 3;

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrane-host run [--endpoint NAME] [--allow-stop]\n"
                 "       kestrane-host install [--endpoint NAME]\n"
                 "       kestrane-host uninstall\n"
                 "       kestrane-host secure\n");
    return kUsage;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    Kestrane::Host::RpcHost::RequestStop();
    return TRUE;
}

// The module next to this program: a service starts in the system folder, so a bare
// name would not find it.
std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + L"KestraneService.dll";
}

bool ParseOptions(int first, int argc, wchar_t** argv, Kestrane::Host::HostOptions* options) {
    for (int i = first; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--endpoint" && i + 1 < argc && argv[i + 1][0] != L'\0') {
            options->endpoint = argv[++i];
        } else if (argument == L"--allow-stop") {
            options->allowStop = true;
        } else {
            return false;
        }
    }
    return true;
}

// What the host listens on, for its messages.
std::wstring EndpointText(const Kestrane::Host::HostOptions& options) {
    if (options.endpoint.empty()) return L"the service's endpoint in the endpoint map";
    return L"ncalrpc:" + options.endpoint;
}

}  // namespace

namespace Kestrane::Host {

namespace {

int ServeWithLog(const HostOptions& options, void (*onListening)()) {
    LogInfo(L"KestraneHost: starting");
    LoadedModule module(ModulePath().c_str());
    if (module.Service() == nullptr) {
        std::fprintf(stderr, "kestrane-host: cannot load KestraneService.dll next to the host (error %lu)\n",
                     module.Error());
        LogError(L"KestraneHost: cannot load KestraneService.dll");
        return kFailed;
    }
    {
        RpcHost host(module.Service(), options);
        if (host.Status() == RPC_S_DUPLICATE_ENDPOINT) {
            std::fprintf(stderr,
                         "kestrane-host: another server already answers on %ls; not starting (its clients "
                         "could not tell the two apart)\n",
                         EndpointText(options).c_str());
            LogError(L"KestraneHost: the endpoint is taken by another server");
            return kEndpointTaken;
        }
        if (host.Status() != RPC_S_OK) {
            std::fprintf(stderr, "kestrane-host: cannot listen on %ls (RPC status %ld)\n",
                         EndpointText(options).c_str(), host.Status());
            LogError(L"KestraneHost: cannot listen");
            return kFailed;
        }
        LogInfo(L"KestraneHost: listening");
        if (onListening != nullptr) onListening();
        host.WaitForStopRequest();
        LogInfo(L"KestraneHost: stopping");
        host.Stop();
    }
    LogInfo(L"KestraneHost: stopped");
    return 0;
}

}  // namespace

int Serve(const HostOptions& options, void (*onListening)()) {
    OpenLog();  // on the host's own account, before any client is impersonated
    const int code = ServeWithLog(options, onListening);
    CloseLog();  // the held-back counts and the last second's lines, also when the service manager stops it
    return code;
}

}  // namespace Kestrane::Host

namespace {

void AnnounceListening() {
    std::printf("kestrane-host: listening; Ctrl-C stops it\n");
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    Kestrane::Host::HostOptions options;
    if (!ParseOptions(2, argc, argv, &options)) return Usage();
    if (command == L"run") {
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        const int code = Kestrane::Host::Serve(options, AnnounceListening);
        if (code == 0) std::printf("kestrane-host: stopped\n");
        return code;
    }
    if (command == L"install") return Kestrane::Host::InstallService(options);
    if (command == L"uninstall" && argc == 2) return Kestrane::Host::UninstallService();
    if (command == L"secure" && argc == 2) {
        // The log folder first: it is made before the service first runs, so it never exists
        // with looser rights than the logger would give it, and the log then records every
        // change the keys get.
        std::wstring movedTo;
        const int folder =
            Kestrane::Host::SecureLogFolderMovingAside(Kestrane::Host::DefaultLogFolderPath(), &movedTo);
        Kestrane::Host::OpenLog();
        if (!movedTo.empty())
            Kestrane::Host::LogInfo((L"KestraneHost: moved what was in the log folder's place to " + movedTo).c_str());
        const int keys = Kestrane::Host::SecureWriteListedKeys();
        const int service = Kestrane::Host::QuoteServiceCommandLine();
        const int recovery = Kestrane::Host::ConfigureServiceRecovery();
        Kestrane::Host::FlushLog();
        return keys != 0 ? keys : folder != 0 ? folder : service != 0 ? service : recovery;
    }
    if (command == L"service") return Kestrane::Host::RunAsService(options);
    return Usage();
}
