#pragma once

#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services {

// One per client, immutable from CreateClientContext to ReleaseClientContext.
struct ClientContext {
    WCHAR* clientId;  // owned copy, at most kMaxClientIdLength units and a terminator
};

// Client ids are cut to this many UTF-16 units; every log record expects no more.
constexpr std::size_t kMaxClientIdLength = 64;

}  // namespace Qv::Corvane::Server::Services
