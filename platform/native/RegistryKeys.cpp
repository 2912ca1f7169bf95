// Reg* calls on keys: open, create, close, delete, enumerate subkeys, key counts.
#include "platform/native/RegistryTree.h"

#include <algorithm>
#include <cstring>
#include <iterator>

using namespace KestraneEmu::Detail;

namespace {

bool InPredefinedRange(HKEY key) {
    // Wine returns such a root itself for an empty subkey, and ignores its close.
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key));
    return reinterpret_cast<std::uintptr_t>(key) >= 0x80000000u && value >= 0x80000000u && value <= 0x80000006u;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    DWORD fault = 0;
    if (TakeFault("RegOpenKeyExW", &fault)) {
        if (result != nullptr) *result = nullptr;
        return static_cast<LSTATUS>(fault);
    }
    const std::lock_guard<std::mutex> lock(StateMutex());
    if (result != nullptr && (subKey == nullptr || subKey[0] == 0) && InPredefinedRange(key)) {
        *result = key;
        RecordOpenLocked(desired);
        return ERROR_SUCCESS;
    }
    // Windows NT accepts one leading backslash below HKEY_CLASSES_ROOT.
    if (key == HKEY_CLASSES_ROOT && subKey != nullptr && subKey[0] == u'\\') ++subKey;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;

    OpenKey parent;
    if (const LSTATUS status = ResolveLocked(key, 0, &parent)) return status;
    std::vector<std::u16string> components;
    if (const LSTATUS status = SplitPathLocked(subKey, &components)) return status;
    std::shared_ptr<RegKey> target;
    if (const LSTATUS status = WalkLocked(parent.key, components, &target, (options & REG_OPTION_OPEN_LINK) != 0))
        return status;
    if (IsDeniedLocked(*target, desired)) return ERROR_ACCESS_DENIED;
    *result = AddHandleLocked(target, desired);
    RecordOpenLocked(desired);
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*className*/, DWORD options,
                        REGSAM desired, const void* /*securityAttributes*/, PHKEY result, LPDWORD disposition) {
    DWORD fault = 0;
    if (TakeFault("RegCreateKeyExW", &fault)) return static_cast<LSTATUS>(fault);
    if (result == nullptr) return ERROR_BADKEY;
    if (reserved != 0) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());

    OpenKey parent;
    if (const LSTATUS status = ResolveLocked(key, 0, &parent)) return status;
    std::vector<std::u16string> components;
    if (const LSTATUS status = SplitPathLocked(subKey, &components)) return status;

    std::u16string targetPath = FoldedPathLocked(*parent.key);
    for (const std::u16string& name : components) targetPath += (targetPath.empty() ? u"" : u"\\") + FoldCase(name);
    if (IsDeniedPathLocked(targetPath, desired)) return ERROR_ACCESS_DENIED;

    // One component at a time, as Wine's kernelbase does: parents made before a
    // failing component (one over the length limit) stay made. Existing links are
    // followed, the last one too unless the options ask for the link itself; one whose
    // target is missing fails, as under Wine.
    std::shared_ptr<RegKey> current = parent.key;
    bool created = false;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const std::u16string& name = components[i];
        const auto it = current->subkeys.find(FoldCase(name));
        if (it != current->subkeys.end()) {
            const bool last = i + 1 == components.size();
            current = last && (options & REG_OPTION_OPEN_LINK) ? it->second : FollowLinkLocked(it->second);
            if (!current) return ERROR_FILE_NOT_FOUND;
            created = false;
            continue;
        }
        if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        current = CreateChildLocked(*current, name);
        created = true;
    }
    *result = AddHandleLocked(current, desired);
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    RecordOpenLocked(desired);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    // Wine: any value from 0x80000000 up is a predefined root and closing it is a no-op.
    if (reinterpret_cast<std::uintptr_t>(key) >= 0x80000000u) return ERROR_SUCCESS;
    const std::lock_guard<std::mutex> lock(StateMutex());
    return CloseHandleLocked(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    DWORD fault = 0;
    if (TakeFault("RegDeleteKeyW", &fault)) return static_cast<LSTATUS>(fault);
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey parent;
    if (const LSTATUS status = ResolveLocked(key, 0, &parent)) return status;
    std::vector<std::u16string> components;
    if (const LSTATUS status = SplitPathLocked(subKey, &components)) return status;
    std::shared_ptr<RegKey> target;
    if (const LSTATUS status = WalkLocked(parent.key, components, &target)) return status;
    // Only leaves can be deleted (Wine's server refuses others with access denied),
    // and never a predefined root itself.
    if (IsDeleteDeniedLocked(*target) || !target->subkeys.empty() || target->parent == nullptr ||
        (components.empty() && parent.predefined))
        return ERROR_ACCESS_DENIED;
    DetachLocked(*target);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                      LPDWORD classLength, PFILETIME lastWriteTime) {
    DWORD fault = 0;
    if (TakeFault("RegEnumKeyExW", &fault)) return static_cast<LSTATUS>(fault);
    if (reserved != nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, KEY_ENUMERATE_SUB_KEYS, &open)) return status;
    if (index >= open.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = open.key->subkeys.begin();
    std::advance(it, index);
    const std::u16string& found = it->second->name;

    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    // Too small a buffer: 234 and, as in Wine, the length is left as it was.
    if (found.size() >= *nameLength || (className != nullptr && classLength != nullptr && *classLength == 0))
        return ERROR_MORE_DATA;
    std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(WCHAR));
    *nameLength = static_cast<DWORD>(found.size());
    if (classLength != nullptr) {
        *classLength = 0;
        if (className != nullptr) className[0] = 0;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD /*reserved*/, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                         LPDWORD maxValueLength, LPDWORD securityDescriptor, PFILETIME lastWriteTime) {
    DWORD fault = 0;
    if (TakeFault("RegQueryInfoKeyW", &fault)) return static_cast<LSTATUS>(fault);
    if (className != nullptr && classLength == nullptr) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    // Wine asks no right of the handle for this query.
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, 0, &open)) return status;

    DWORD longestSubKey = 0, longestValueName = 0, largestData = 0;
    for (const auto& [folded, child] : open.key->subkeys)
        longestSubKey = std::max(longestSubKey, static_cast<DWORD>(child->name.size()));
    for (const auto& [folded, value] : open.key->values) {
        longestValueName = std::max(longestValueName, static_cast<DWORD>(value.name.size()));
        largestData = std::max(largestData, static_cast<DWORD>(value.data.size()));
    }
    if (className != nullptr && *classLength != 0) className[0] = 0;
    if (classLength != nullptr) *classLength = 0;
    if (subKeys != nullptr) *subKeys = static_cast<DWORD>(open.key->subkeys.size());
    if (maxSubKeyLength != nullptr) *maxSubKeyLength = longestSubKey;
    if (maxClassLength != nullptr) *maxClassLength = 0;
    if (values != nullptr) *values = static_cast<DWORD>(open.key->values.size());
    if (maxValueNameLength != nullptr) *maxValueNameLength = longestValueName;
    if (maxValueLength != nullptr) *maxValueLength = largestData;
    if (securityDescriptor != nullptr) *securityDescriptor = 0;
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LSTATUS KestraneDeleteOpenedKey(HKEY key) {
    const std::lock_guard<std::mutex> lock(StateMutex());
    if (IsPredefinedRoot(key)) return ERROR_INVALID_HANDLE;  // ntdll knows no pseudo-handles
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, DELETE, &open)) return status;
    if (IsDeleteDeniedLocked(*open.key) || !open.key->subkeys.empty() || open.key->parent == nullptr)
        return ERROR_ACCESS_DENIED;
    DetachLocked(*open.key);
    return ERROR_SUCCESS;
}
