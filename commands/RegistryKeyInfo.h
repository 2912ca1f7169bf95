#pragma once

#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// The counts of an open key, as RegQueryInfoKeyW reports them.
struct RegistryKeyInfo {
    DWORD subKeyCount;
    DWORD maxSubKeyLength;     // UTF-16 units, terminator excluded
    DWORD valueCount;
    DWORD maxValueNameLength;  // UTF-16 units, terminator excluded
    DWORD maxValueDataLength;  // bytes
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
