// KestraneService.dll loaded the way any service host loads a module: by name, through
// its one exported factory. Destruction deletes the service and unloads the module.
#pragma once

#include "service/QVService.h"

#include <windows.h>

namespace Kestrane::Host {

class LoadedModule {
public:
    explicit LoadedModule(const wchar_t* path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Null when loading failed; Error() then says why (a Win32 error).
    Qv::Corvane::Server::Services::QVService* Service() const { return service_; }
    DWORD Error() const { return error_; }

private:
    HMODULE module_ = nullptr;
    Qv::Corvane::Server::Services::QVService* service_ = nullptr;
    DWORD error_ = 0;
};

}  // namespace Kestrane::Host
