// The host's entry in Wine's endpoint map. Wine's mapper keeps the entries of hosts that
// died (and of hosts that stopped: its RpcEpUnregister sends an insert), hands a client
// the first entry of the interface, cannot be listed (RpcMgmtEpEltInqBegin is a stub), and
// lets a registration replace the first entry of the interface, whoever made it.
#pragma once

#include <windows.h>

namespace Kestrane::Host {

// Entries of dead hosts a starting host replaces, at most, before its own is handed out.
// Beyond them the host does not start: "cannot listen" with EPT_S_CANT_PERFORM_OP (1752).
constexpr unsigned kMaxStaleMapEntries = 16;

// Registers `own` (the host's bindings) for `served` until the map hands out its endpoint
// first, replacing only entries whose endpoint no server answers on. RPC_S_OK then;
// RPC_S_DUPLICATE_ENDPOINT when a live server's entry comes first (a host already serves:
// its entry is left alone); otherwise the failing status.
RPC_STATUS PutFirstInWineMap(RPC_IF_HANDLE served, RPC_BINDING_VECTOR* own, const wchar_t* note);

}  // namespace Kestrane::Host
