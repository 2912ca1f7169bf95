// The module's side of the log's per-client shares: whom a line logged on this thread is for.
#pragma once

#include "logging/Logging.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// The Logging::LogCallerSource the module sets: the client of the RPC call this thread
// serves (process, session, and the user its impersonation gives), or false outside a call.
bool LogCallerOfThisThread(Logging::LogCaller* caller);

}  // namespace Qv::Corvane::Server::Services::Kestrane
