// Lets tests read the two compiled-in lists.
#pragma once

#include "access/KestraneServiceWhiteList.h"
#include "tests/TestSupport.h"

namespace Qv::Corvane::Server::Services::Kestrane {
struct WhiteListInspector {
    static const std::vector<KestraneTest::WString>& Read() { return KestraneServiceWhiteList::readWhiteList; }
    static const std::vector<KestraneTest::WString>& Write() { return KestraneServiceWhiteList::writeWhiteList; }
};
}  // namespace Qv::Corvane::Server::Services::Kestrane
