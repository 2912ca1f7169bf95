// The names of the module's statuses, for hosts and clients that show them to people.
#pragma once

#include "service/QVService.h"

#include <cstdint>

namespace Kestrane::Host {

inline const char* StatusName(uint32_t status) {
    using namespace Qv::Corvane::Server::Services;
    switch (status) {
    case Success: return "Success";
    case UnsupportedFunction: return "UnsupportedFunction";
    case GeneralFailure: return "GeneralFailure";
    case InvalidKeyPath: return "InvalidKeyPath";
    case OpenKeyFailed: return "OpenKeyFailed";
    case RootKeyNotFound: return "RootKeyNotFound";
    case InvalidValueName: return "InvalidValueName";
    case InvalidDataType: return "InvalidDataType";
    case InvalidWriteData: return "InvalidWriteData";
    case NotWhiteListed: return "NotWhiteListed";
    case DeleteValueFailed: return "DeleteValueFailed";
    case InvalidJson: return "InvalidJson";
    default: return "WindowsError";  // one delete path passes a Win32 error through
    }
}

}  // namespace Kestrane::Host
