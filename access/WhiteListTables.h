// Read access to the compiled-in tables, for code that acts on the listed keys
// themselves (kestrane-host securing the machine keys at install) and for the tests.
#pragma once

#include "access/KestraneServiceWhiteList.h"

namespace Qv::Corvane::Server::Services::Kestrane {

struct WhiteListTables {
    static const std::vector<std::basic_string<WCHAR>>& Read() { return KestraneServiceWhiteList::readWhiteList; }
    static const std::vector<std::basic_string<WCHAR>>& Write() { return KestraneServiceWhiteList::writeWhiteList; }
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
