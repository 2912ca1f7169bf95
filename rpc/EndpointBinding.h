// Client bindings to the host's local endpoint, for its clients and for the host itself.
#pragma once

#include <windows.h>

#include <string>

namespace Kestrane::Host {

// Binds to ncalrpc:endpoint; 0 or the RPC status.
unsigned long BindToEndpoint(const std::wstring& endpoint, handle_t* binding);

// Whether some server already listens on ncalrpc:endpoint.
bool EndpointAnswers(const std::wstring& endpoint);

}  // namespace Kestrane::Host
