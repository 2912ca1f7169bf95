#include "host/ModuleLoader.h"

namespace Kestrane::Host {

LoadedModule::LoadedModule(const wchar_t* path) {
    module_ = LoadLibraryW(path);
    if (module_ == nullptr) {
        error_ = GetLastError();
        return;
    }
    using Factory = Qv::Corvane::Server::Services::QVService* (*)();
    const auto factory =
        reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module_, "QVCreateService")));
    if (factory == nullptr) {
        error_ = GetLastError();
        return;
    }
    service_ = factory();
    if (service_ == nullptr) error_ = ERROR_INVALID_FUNCTION;
}

LoadedModule::~LoadedModule() {
    // Through slot 1, the deleting destructor: the module frees what its own allocator made.
    if (service_ != nullptr) service_->DeletingDestructor(Qv::Corvane::Server::Services::kDeleteStorage);
    if (module_ != nullptr) FreeLibrary(module_);
}

}  // namespace Kestrane::Host
