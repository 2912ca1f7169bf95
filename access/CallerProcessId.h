// The process id of the client whose RPC call this thread is serving.
#pragma once

#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// 0 and the pid, or the RPC runtime's status (1725 outside a call).
RPC_STATUS InquireCallerProcessId(DWORD* pid);

// For as long as one request is served on this thread: its RPC call, and so its client, stays
// the same, so the runtime is asked at most once (under Wine each answer costs two wineserver
// round trips, and a request may need it for the caller's hive and for each line it logs).
class CallerProcessIdScope {
public:
    CallerProcessIdScope();
    ~CallerProcessIdScope();
    CallerProcessIdScope(const CallerProcessIdScope&) = delete;
    CallerProcessIdScope& operator=(const CallerProcessIdScope&) = delete;
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
