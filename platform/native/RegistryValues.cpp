// Reg* calls on values: set, query, get (with expansion), enumerate, delete.
#include "platform/native/RegistryTree.h"

#include <cstring>
#include <iterator>

#if defined(__SANITIZE_ADDRESS__)
#define KESTRANE_EMU_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRANE_EMU_ASAN 1
#endif
#endif
#ifdef KESTRANE_EMU_ASAN
#include <sanitizer/asan_interface.h>
#endif

using namespace KestraneEmu::Detail;

namespace {

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Whether the unit just past the caller's count may be read. Wine reads it; a
// caller that legitimately passes an exact-size buffer must not trip AddressSanitizer
// for that, so there it counts as present only when addressable (as it would be on Wine).
bool Addressable(const BYTE* data, std::size_t size) {
#ifdef KESTRANE_EMU_ASAN
    return __asan_region_is_poisoned(const_cast<BYTE*>(data), size) == nullptr;
#else
    (void)data;
    (void)size;
    return true;
#endif
}

std::u16string NameOf(LPCWSTR name) { return name ? std::u16string(name) : std::u16string(); }

WCHAR UnitAt(const BYTE* data, std::size_t unit) {
    WCHAR c;
    std::memcpy(&c, data + unit * sizeof(WCHAR), sizeof c);
    return c;
}

// Copies value data out; Wine (like NT) then adds a NUL after a string that lacks
// one when the buffer has room for it, without counting it in the size.
void CopyOut(const RegValue& value, BYTE* data, DWORD capacity) {
    const std::size_t size = value.data.size();
    if (size != 0) std::memcpy(data, value.data.data(), size);
    if (IsString(value.type) && size >= sizeof(WCHAR) && size + sizeof(WCHAR) <= capacity &&
        (value.data[size - 2] != 0 || value.data[size - 1] != 0))
        std::memset(data + size, 0, sizeof(WCHAR));
}

// RegQueryValueExW on an already resolved key.
LSTATUS QueryLocked(const RegKey& key, const std::u16string& name, DWORD* type, BYTE* data, DWORD* size) {
    if (data == nullptr && size != nullptr) *size = 0;
    if (name.size() > kMaxValueNameLength) return ERROR_FILE_NOT_FOUND;
    const auto it = key.values.find(FoldCase(name));
    if (it == key.values.end()) return ERROR_FILE_NOT_FOUND;
    const RegValue& value = it->second;
    const auto length = static_cast<DWORD>(value.data.size());
    LSTATUS status = ERROR_SUCCESS;
    if (data != nullptr) {
        // A buffer too small is left untouched.
        if (length > *size)
            status = ERROR_MORE_DATA;
        else
            CopyOut(value, data, *size);
    }
    if (type != nullptr) *type = value.type;
    if (size != nullptr) *size = length;
    return status;
}

// RegGetValueW's type filter, applied after expansion as in Wine. Types outside
// the RRF_RT_* set fail even under RRF_RT_ANY.
LSTATUS ApplyRestrictions(DWORD flags, DWORD type, DWORD size, LSTATUS status) {
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return status;
    DWORD mask = 0;
    switch (type) {
        case REG_NONE: mask = RRF_RT_REG_NONE; break;
        case REG_SZ: mask = RRF_RT_REG_SZ; break;
        case REG_EXPAND_SZ: mask = RRF_RT_REG_EXPAND_SZ; break;
        case REG_MULTI_SZ: mask = RRF_RT_REG_MULTI_SZ; break;
        case REG_BINARY: mask = RRF_RT_REG_BINARY; break;
        case REG_DWORD: mask = RRF_RT_REG_DWORD; break;
        case REG_QWORD: mask = RRF_RT_REG_QWORD; break;
        default: break;
    }
    if ((flags & mask) == 0) return ERROR_UNSUPPORTED_TYPE;
    if (type == REG_BINARY) {
        DWORD expected = 0;
        if ((flags & RRF_RT_ANY) == RRF_RT_DWORD) expected = 4;
        if ((flags & RRF_RT_ANY) == RRF_RT_QWORD) expected = 8;
        if (expected != 0 && size != expected) return ERROR_DATATYPE_MISMATCH;
    }
    return status;
}

}  // namespace

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    DWORD fault = 0;
    if (TakeFault("RegSetValueExW", &fault)) return static_cast<LSTATUS>(fault);
    if ((data != nullptr && (reinterpret_cast<std::uintptr_t>(data) >> 16) == 0) || (data == nullptr && dataSize != 0))
        return ERROR_NOACCESS;
    DWORD stored = dataSize;
    if (dataSize >= sizeof(WCHAR) && IsString(type)) {
        // Wine's kernelbase: a string whose NUL was left out of the count, but sits
        // right after it, gets the NUL counted. (It reads that one unit past the count.)
        const std::size_t units = dataSize / sizeof(WCHAR);
        if (UnitAt(data, units - 1) != 0 && Addressable(data + units * sizeof(WCHAR), sizeof(WCHAR)) &&
            UnitAt(data, units) == 0)
            stored += sizeof(WCHAR);
    }
    const std::u16string name = NameOf(valueName);
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, KEY_SET_VALUE, &open)) return status;
    RegValue& value = open.key->values[FoldCase(name)];
    if (value.name.empty()) value.name = name;
    value.type = type;
    value.data.assign(data, data + stored);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    DWORD fault = 0;
    if (TakeFault("RegQueryValueExW", &fault)) return static_cast<LSTATUS>(fault);
    if ((data != nullptr && dataSize == nullptr) || reserved != nullptr) return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, KEY_QUERY_VALUE, &open)) return status;
    return QueryLocked(*open.key, NameOf(valueName), type, data, dataSize);
}

LSTATUS RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, void* data,
                     LPDWORD dataSize) {
    DWORD fault = 0;
    if (TakeFault("RegGetValueW", &fault)) return static_cast<LSTATUS>(fault);
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if ((flags & RRF_RT_REG_EXPAND_SZ) && !(flags & RRF_NOEXPAND) && (flags & RRF_RT_ANY) != RRF_RT_ANY)
        return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());

    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, subKey && subKey[0] ? 0 : KEY_QUERY_VALUE, &open)) return status;
    if (subKey != nullptr && subKey[0] != 0) {
        // Wine opens the subkey for KEY_QUERY_VALUE and closes it again.
        std::vector<std::u16string> components;
        std::shared_ptr<RegKey> target;
        if (const LSTATUS status = SplitPathLocked(subKey, &components)) return status;
        if (const LSTATUS status = WalkLocked(open.key, components, &target)) return status;
        if (IsDeniedLocked(*target, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
        open.key = target;
    }

    auto* bytes = static_cast<BYTE*>(data);
    DWORD valueType = REG_NONE;  // Wine leaves it uninitialised when the value is missing
    DWORD size = (data != nullptr && dataSize != nullptr) ? *dataSize : 0;
    const std::u16string name = NameOf(value);
    LSTATUS status = QueryLocked(*open.key, name, &valueType, bytes, &size);

    if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && valueType == REG_EXPAND_SZ &&
        !(flags & RRF_NOEXPAND)) {
        // The whole value is read and expanded; the size is that of the expansion
        // with its NUL and the type reported is REG_SZ. Wine overruns a buffer too
        // small for the expansion; here such a buffer is left untouched.
        const RegValue& raw = open.key->values.find(FoldCase(name))->second;
        std::u16string text(raw.data.size() / sizeof(WCHAR), u'\0');
        if (!text.empty()) std::memcpy(text.data(), raw.data.data(), text.size() * sizeof(WCHAR));
        text.resize(WideLength(text.c_str(), text.size()));
        const std::u16string expanded = ExpandEnvironmentText(text);
        size = static_cast<DWORD>((expanded.size() + 1) * sizeof(WCHAR));
        valueType = REG_SZ;
        status = ERROR_SUCCESS;
        if (data != nullptr) {
            if (size > *dataSize)
                status = ERROR_MORE_DATA;
            else
                std::memcpy(bytes, expanded.c_str(), size);
        }
    }

    status = ApplyRestrictions(flags, valueType, size, status);
    if (data != nullptr && status != ERROR_SUCCESS && (flags & RRF_ZEROONFAILURE)) std::memset(data, 0, *dataSize);
    if (type != nullptr) *type = valueType;
    if (dataSize != nullptr) *dataSize = size;
    return status;
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    DWORD fault = 0;
    if (TakeFault("RegEnumValueW", &fault)) return static_cast<LSTATUS>(fault);
    if ((data != nullptr && dataSize == nullptr) || reserved != nullptr || valueName == nullptr ||
        valueNameLength == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, KEY_QUERY_VALUE, &open)) return status;
    if (index >= open.key->values.size()) return ERROR_NO_MORE_ITEMS;
    auto it = open.key->values.begin();
    std::advance(it, index);
    const RegValue& value = it->second;
    const auto length = static_cast<DWORD>(value.data.size());

    LSTATUS status = ERROR_SUCCESS;
    // As in Wine: a name buffer too small leaves the name length as it was but
    // still reports type and data size; a data buffer too small comes after the name.
    if (value.name.size() >= *valueNameLength) {
        status = ERROR_MORE_DATA;
    } else {
        std::memcpy(valueName, value.name.c_str(), (value.name.size() + 1) * sizeof(WCHAR));
        *valueNameLength = static_cast<DWORD>(value.name.size());
        if (data != nullptr) {
            if (length > *dataSize)
                status = ERROR_MORE_DATA;
            else
                CopyOut(value, data, *dataSize);
        }
    }
    if (type != nullptr) *type = value.type;
    if (dataSize != nullptr) *dataSize = length;
    return status;
}

LSTATUS RegDeleteKeyValueW(HKEY key, LPCWSTR subKey, LPCWSTR valueName) {
    DWORD fault = 0;
    if (TakeFault("RegDeleteKeyValueW", &fault)) return static_cast<LSTATUS>(fault);
    const std::lock_guard<std::mutex> lock(StateMutex());
    OpenKey open;
    if (const LSTATUS status = ResolveLocked(key, subKey ? 0 : KEY_SET_VALUE, &open)) return status;
    if (subKey != nullptr) {
        // Wine opens the subkey (even an empty one) for KEY_SET_VALUE.
        std::vector<std::u16string> components;
        std::shared_ptr<RegKey> target;
        if (const LSTATUS status = SplitPathLocked(subKey, &components)) return status;
        if (const LSTATUS status = WalkLocked(open.key, components, &target)) return status;
        open.key = target;
    }
    if (IsDeleteDeniedLocked(*open.key)) return ERROR_ACCESS_DENIED;
    const std::u16string name = NameOf(valueName);
    if (name.size() > kMaxValueNameLength) return ERROR_FILE_NOT_FOUND;
    if (open.key->values.erase(FoldCase(name)) == 0) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

// Wine implements it as RegDeleteKeyValueW without a subkey (and so shares its faults).
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) { return RegDeleteKeyValueW(key, nullptr, valueName); }
