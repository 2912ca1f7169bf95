#pragma once

#include "platform/Win32.h"

#include <initializer_list>
#include <utility>

namespace Qv::Corvane::Server::Services {

// A pointer and the 8-bit label it is reported under.
using NamedPointer = std::pair<const void*, const char*>;

class UtilHelper {
public:
    // True when at least one pointer is null; each null one gets its own warning, in order.
    static bool NullChecker(std::initializer_list<NamedPointer> pointers, const WCHAR* clientId);
};

}  // namespace Qv::Corvane::Server::Services
