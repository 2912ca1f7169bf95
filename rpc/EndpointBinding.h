// Client bindings to the host's local endpoint, for its clients and for the host itself.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

// Binds to ncalrpc:endpoint; 0 or the RPC status. An empty endpoint makes a binding with
// none ("ncalrpc:"), which the runtime completes through the endpoint mapper: the service
// listens on an endpoint the runtime names when it starts, so no name exists that another
// user could take first.
unsigned long BindToEndpoint(const std::wstring& endpoint, handle_t* binding);

// Wine's RPC runtime, which has no security provider for ncalrpc and lets a second server
// listen on a taken endpoint name: the checks that Windows' runtime makes are made by hand
// there.
bool RunningUnderWine();

// Whether some server already listens on ncalrpc:endpoint. Only where the runtime lets two
// servers share a name (Wine): on Windows the registration itself is refused, and a probe
// would hand the host's own identity to whoever holds the name.
bool EndpointAnswers(const std::wstring& endpoint);

}  // namespace Kestrane::Host
