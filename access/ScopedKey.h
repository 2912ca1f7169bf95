// Registry handles that close themselves on every way out of a command.
#pragma once

#include "platform/Win32.h"

namespace Qv::Corvane::Server::Services::Kestrane {

// A handle counts as open when it is neither null nor all bits set.
inline bool IsOpenKey(HKEY key) {
    return key != nullptr && reinterpret_cast<HANDLE>(key) != INVALID_HANDLE_VALUE;
}

inline bool IsPredefinedKey(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS ||
           key == HKEY_CURRENT_CONFIG;
}

// A key this command opened or created.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    void Reset(HKEY key) {
        Close();
        key_ = key;
    }
    HKEY Get() const { return key_; }
    HKEY* Address() { return &key_; }
    // Hands the handle over: this no longer closes it.
    HKEY Release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void Close() {
        if (IsOpenKey(key_)) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// A root from GetRootKey: the caller's hive is closed, the predefined roots never are.
class ScopedRootKey {
public:
    explicit ScopedRootKey(HKEY root = nullptr) : root_(root) {}
    ~ScopedRootKey() { Release(); }
    ScopedRootKey(const ScopedRootKey&) = delete;
    ScopedRootKey& operator=(const ScopedRootKey&) = delete;

    void Reset(HKEY root) {
        Release();
        root_ = root;
    }
    HKEY Get() const { return root_; }
    explicit operator bool() const { return root_ != nullptr; }

private:
    void Release() {
        if (IsOpenKey(root_) && !IsPredefinedKey(root_)) RegCloseKey(root_);
        root_ = nullptr;
    }
    HKEY root_;
};

// Open and create adopt the handle only on success: what a failed call leaves in its
// output is not a handle to close.
inline LSTATUS OpenKey(HKEY root, const WCHAR* subKey, REGSAM access, ScopedKey& key) {
    HKEY opened = nullptr;
    const LSTATUS result = RegOpenKeyExW(root, subKey, 0, access, &opened);
    if (result == ERROR_SUCCESS) key.Reset(opened);
    return result;
}

inline LSTATUS CreateKey(HKEY root, const WCHAR* subKey, REGSAM access, ScopedKey& key) {
    HKEY created = nullptr;
    DWORD disposition = 0;  // a key that already existed counts the same as a new one
    const LSTATUS result =
        RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &created, &disposition);
    if (result == ERROR_SUCCESS) key.Reset(created);
    return result;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
