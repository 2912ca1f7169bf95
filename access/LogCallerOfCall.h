// Whom the RPC call this thread serves is for, as the log's per-client shares key it.
#pragma once

#include "logging/Logging.h"
#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// Fills `caller` for the client process `processId` (as the RPC runtime reported it): its
// session, and the user the call's impersonation gives (empty when it gives none).
void DescribeLogCaller(DWORD processId, Logging::LogCaller* caller);

}  // namespace Qv::Corvane::Server::Services::Kestrane
