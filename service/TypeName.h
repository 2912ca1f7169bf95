// Fully qualified class names for log lines. GCC's typeid names are mangled, so
// each is demangled once into storage that lives as long as the module.
#pragma once

#include <string>
#include <typeinfo>

namespace Qv::Corvane::Server::Services {

std::string DemangleTypeName(const char* mangled);

template <class T>
const char* TypeName() {
    static const std::string name = DemangleTypeName(typeid(T).name());
    return name.c_str();
}

}  // namespace Qv::Corvane::Server::Services
