#include "platform/native/RegistryTree.h"

#include <mutex>

using namespace KestraneEmu::Detail;

LSTATUS KestraneQueryKeyName(HKEY key, std::u16string* name) {
    const std::lock_guard<std::mutex> lock(StateMutex());
    if (IsPredefinedRoot(key)) return ERROR_INVALID_HANDLE;  // ntdll knows no pseudo-handles
    OpenKey open;
    const LSTATUS result = ResolveLocked(key, 0, &open);
    if (result != ERROR_SUCCESS) return result;
    std::u16string path;
    for (const RegKey* k = open.key.get(); k != nullptr && k->parent != nullptr; k = k->parent)
        path = u"\\" + k->name + path;
    *name = u"\\REGISTRY" + path;
    return ERROR_SUCCESS;
}
