#pragma once

#include "platform/Win32.h"
#include "service/Export.h"

namespace Qv::Corvane::Server::Services::Kestrane {

class KESTRANE_API KestraneServiceHelper {
public:
    // Splits keyPath in place at its first backslash and answers the root key, or null.
    // A current-user root is the calling client's hive, opened with `access`, and
    // belongs to the caller; the predefined roots are never to be closed.
    static HKEY GetRootKey(WCHAR* keyPath, WCHAR** subKey, REGSAM access, const WCHAR* clientId);

    // HKEY_USERS\<SID of the process that made the RPC call served on this thread>, or null.
    static HKEY OpenCurrentUserRegKey(REGSAM access, const WCHAR* clientId);

    // Defined out of line so the DLL exports them.
    KestraneServiceHelper& operator=(const KestraneServiceHelper&);
    KestraneServiceHelper& operator=(KestraneServiceHelper&&);
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
