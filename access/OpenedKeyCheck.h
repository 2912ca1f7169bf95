// Where a key really is. A client allowed to create keys below a listed key could
// plant a registry link there pointing anywhere; the registry follows it silently. So
// after a listed path is opened, the key's own name must be listed too, and a key is
// only ever created where its own name is listed or where the request's path says.
#pragma once

#include "access/KestraneServiceWhiteList.h"
#include "platform/Win32.h"

#include <string>

namespace Qv::Corvane::Server::Services::Kestrane {

// True when the key `key` names, reached from `root` (a predefined root or the
// caller's hive), is in the list of `mode`. `realName` receives the registry's name
// for it, for the refusal's log line. An unnameable key is refused.
bool IsOpenedKeyInWhiteList(WhiteListAccessMode mode, HKEY key, HKEY root, std::basic_string<WCHAR>* realName,
                            const WCHAR* clientId);

// True when a new key the registry would name `name` may be made for a request on
// `requestedPath` (the key path as asked, root name first): the key is listed in
// `mode`, or it is one of the keys on the way to the requested key, at the very place
// the path names (so no link redirected the way there).
bool MayCreateKeyNamed(WhiteListAccessMode mode, const std::basic_string<WCHAR>& name, HKEY root,
                       const std::basic_string<WCHAR>& requestedPath, const WCHAR* clientId);

// Two registry names of one key: the registry keeps a name's case as first given and
// compares ASCII letters without it.
bool IsSameKeyName(const std::basic_string<WCHAR>& a, const std::basic_string<WCHAR>& b);

// The registry's name for a root from resolution; false for the merged roots
// (HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG), which no write entry lies under.
bool RootKeyName(HKEY root, std::basic_string<WCHAR>* name);

}  // namespace Qv::Corvane::Server::Services::Kestrane
