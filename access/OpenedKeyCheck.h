// Where an opened key really is. A client allowed to create keys below a listed key
// could plant a registry link there pointing anywhere; the registry follows it
// silently. So after a listed path is opened, the key's own name must be listed too.
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

}  // namespace Qv::Corvane::Server::Services::Kestrane
