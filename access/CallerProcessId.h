// The process id of the client whose RPC call this thread is serving.
#pragma once

#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// 0 and the pid, or the RPC runtime's status (1725 outside a call).
RPC_STATUS InquireCallerProcessId(DWORD* pid);

}  // namespace Qv::Corvane::Server::Services::Kestrane
