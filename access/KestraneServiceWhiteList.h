#pragma once

#include "platform/Win32.h"
#include "service/Export.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Qv::Corvane::Server::Services {

// Which list a command is checked against. Any value but Write means Read.
enum class WhiteListAccessMode : uint32_t { Read = 0, Write = 2 };

namespace Kestrane {

class KESTRANE_API KestraneServiceWhiteList {
public:
    // True when the path is well formed and an entry of the chosen list is a
    // case-folded character prefix of it.
    static bool IsKeyPathInWhiteList(WhiteListAccessMode mode, const WCHAR* keyPath, const WCHAR* clientId);

    // Defined out of line so the DLL exports them.
    KestraneServiceWhiteList& operator=(const KestraneServiceWhiteList&);
    KestraneServiceWhiteList& operator=(KestraneServiceWhiteList&&);

private:
    friend struct WhiteListTables;  // access/WhiteListTables.h
    static const std::vector<std::basic_string<WCHAR>> readWhiteList;
    static const std::vector<std::basic_string<WCHAR>> writeWhiteList;
};

}  // namespace Kestrane
}  // namespace Qv::Corvane::Server::Services
