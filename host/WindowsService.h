// kestrane-host as a Windows service: registration with the service manager, and the
// service's main that runs the same host as the console mode.
#pragma once

#include "host/RpcHost.h"

namespace Kestrane::Host {

constexpr const wchar_t* kServiceName = L"KestraneHost";

// Serves until a stop request; calls onListening once clients can connect.
int Serve(const HostOptions& options, void (*onListening)());

int InstallService(const HostOptions& options);
int UninstallService();
// Windows Installer under Wine registers the service's command line without quotes around
// a program path with spaces ("C:\Program Files\..."), and the service manager would then
// try C:\Program.exe first, which anyone able to write C:\ could plant. When the command line
// begins with this program's own path unquoted, it is quoted. 0 when nothing was wrong or it
// is fixed (also when there is no such service).
int QuoteServiceCommandLine();
// Sets the service's actions on failure (restarts: install sets the same). 0 when set, or
// when there is no such service.
int ConfigureServiceRecovery();
// Hands the process to the service manager; returns when the service has stopped.
int RunAsService(const HostOptions& options);

}  // namespace Kestrane::Host
