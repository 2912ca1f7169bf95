#include "service/TypeName.h"

#include <cstdlib>
#include <cxxabi.h>

namespace Qv::Corvane::Server::Services {

std::string DemangleTypeName(const char* mangled) {
    int status = 0;
    char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && plain) ? plain : mangled;
    std::free(plain);
    return name;
}

}  // namespace Qv::Corvane::Server::Services
