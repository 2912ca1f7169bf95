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
// Hands the process to the service manager; returns when the service has stopped.
int RunAsService(const HostOptions& options);

}  // namespace Kestrane::Host
