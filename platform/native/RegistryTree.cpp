#include "platform/native/RegistryTree.h"

#include "platform/native/Emulation.h"

#include <cstring>
#include <unordered_map>

namespace KestraneEmu::Detail {
namespace {

struct Denial {
    std::u16string foldedPath;
    REGSAM rights;
};

struct RegistryState {
    std::shared_ptr<RegKey> root = std::make_shared<RegKey>();  // \Registry
    std::unordered_map<std::uintptr_t, OpenKey> handles;
    std::vector<Denial> denials;
    REGSAM lastOpenAccess = 0;
};

RegistryState& State();

std::vector<std::u16string> Components(const std::u16string& path) {
    std::vector<std::u16string> components;
    SplitPathLocked(path.c_str(), &components);
    return components;
}

// Existing links on the way are followed, as an open would.
std::shared_ptr<RegKey> EnsurePathLocked(const std::shared_ptr<RegKey>& from, const std::u16string& path) {
    std::shared_ptr<RegKey> key = from;
    for (const std::u16string& name : Components(path)) {
        const auto it = key->subkeys.find(FoldCase(name));
        key = it != key->subkeys.end() ? FollowLinkLocked(it->second) : CreateChildLocked(*key, name);
        if (!key) return from;  // only the skeleton's own paths come here, and they resolve
    }
    return key;
}

void MakeLinkLocked(RegistryState& state, const std::u16string& parent, const std::u16string& name,
                    const std::u16string& target) {
    const std::shared_ptr<RegKey> link = CreateChildLocked(*EnsurePathLocked(state.root, parent), name);
    link->link = true;
    const std::u16string valueName = u"SymbolicLinkValue";
    RegValue& value = link->values[FoldCase(valueName)];
    value.name = valueName;
    value.type = REG_LINK;
    const auto* bytes = reinterpret_cast<const BYTE*>(target.data());
    value.data.assign(bytes, bytes + target.size() * sizeof(char16_t));  // no terminator, as Windows stores it
}

void BuildSkeletonLocked(RegistryState& state) {
    // Wine's own spelling of these keys; HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG
    // are where Wine maps them. The links are those of a stock Windows that listed
    // keys lie behind (the test prefix gets the same).
    EnsurePathLocked(state.root, u"Machine\\Software\\Classes");
    EnsurePathLocked(state.root, u"Machine\\System\\ControlSet001\\Hardware Profiles\\Current");
    EnsurePathLocked(state.root, u"Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers");
    MakeLinkLocked(state, u"Machine\\System", u"CurrentControlSet", u"\\Registry\\Machine\\System\\ControlSet001");
    MakeLinkLocked(state, u"Machine\\System\\ControlSet001\\Control\\Print", u"Printers",
                   u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers");
    const std::u16string user = kDefaultUserSid;
    EnsurePathLocked(state.root, u"User\\" + user + u"_Classes");
    MakeLinkLocked(state, u"User\\" + user + u"\\Software", u"Classes", u"\\Registry\\User\\" + user + u"_Classes");
    EnsurePathLocked(state.root, u"User\\.Default");
    MakeLinkLocked(state, u"User", u"S-1-5-18", u"\\Registry\\User\\.Default");
}

RegistryState& State() {
    static RegistryState state = [] {
        RegistryState initial;
        BuildSkeletonLocked(initial);
        return initial;
    }();
    return state;
}

void MarkDeletedLocked(RegKey& key) {
    key.deleted = true;
    key.parent = nullptr;
    for (auto& [name, child] : key.subkeys) MarkDeletedLocked(*child);
}

// Where each predefined root lives below \Registry.
const char16_t* RootPath(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return u"Machine";
    if (key == HKEY_USERS) return u"User";
    if (key == HKEY_CLASSES_ROOT) return u"Machine\\Software\\Classes";
    if (key == HKEY_CURRENT_CONFIG) return u"Machine\\System\\CurrentControlSet\\Hardware Profiles\\Current";
    return nullptr;
}

std::u16string RootPathLocked(HKEY key) {
    if (key == HKEY_CURRENT_USER) return u"User\\" + CurrentUserSidLocked();
    const char16_t* path = RootPath(key);
    return path ? path : u"";
}

}  // namespace

bool IsPredefinedRoot(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS ||
           key == HKEY_CURRENT_CONFIG;
}

REGSAM GrantedAccess(REGSAM requested) {
    if (requested & (MAXIMUM_ALLOWED | GENERIC_ALL)) requested |= KEY_ALL_ACCESS;
    if (requested & GENERIC_READ) requested |= KEY_READ;
    if (requested & GENERIC_WRITE) requested |= KEY_WRITE;
    if (requested & GENERIC_EXECUTE) requested |= KEY_READ;
    return requested & KEY_ALL_ACCESS;
}

LSTATUS ResolveLocked(HKEY handle, REGSAM needed, OpenKey* out) {
    RegistryState& state = State();
    if (IsPredefinedRoot(handle)) {
        // Wine creates a root's key on first use, so a root always opens.
        out->key = EnsurePathLocked(state.root, RootPathLocked(handle));
        out->access = KEY_ALL_ACCESS;
        out->predefined = true;
        return ERROR_SUCCESS;
    }
    const auto it = state.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == state.handles.end()) return ERROR_INVALID_HANDLE;
    if ((it->second.access & needed) != needed) return ERROR_ACCESS_DENIED;
    if (it->second.key->deleted) return ERROR_KEY_DELETED;
    *out = it->second;
    return ERROR_SUCCESS;
}

LSTATUS SplitPathLocked(const WCHAR* path, std::vector<std::u16string>* components) {
    components->clear();
    if (path == nullptr || path[0] == 0) return ERROR_SUCCESS;
    if (path[0] == u'\\') return ERROR_BAD_PATHNAME;
    std::u16string current;
    for (const WCHAR* p = path;; ++p) {
        if (*p == u'\\' || *p == 0) {
            if (!current.empty()) components->push_back(current);
            current.clear();
            if (*p == 0) break;
        } else {
            current += *p;
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS WalkLocked(const std::shared_ptr<RegKey>& from, const std::vector<std::u16string>& components,
                   std::shared_ptr<RegKey>* found, bool openLink) {
    for (const std::u16string& name : components)
        if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> key = from;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const auto it = key->subkeys.find(FoldCase(components[i]));
        if (it == key->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        key = openLink && i + 1 == components.size() ? it->second : FollowLinkLocked(it->second);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    *found = key;
    return ERROR_SUCCESS;
}

std::shared_ptr<RegKey> FollowLinkLocked(const std::shared_ptr<RegKey>& key, int depth) {
    if (!key->link) return key;
    if (depth > 16) return nullptr;
    const auto value = key->values.find(u"symboliclinkvalue");
    if (value == key->values.end()) return nullptr;
    std::u16string target(value->second.data.size() / sizeof(char16_t), u'\0');
    if (!target.empty()) std::memcpy(&target[0], value->second.data.data(), target.size() * sizeof(char16_t));
    const std::u16string prefix = u"\\registry\\";
    if (target.size() <= prefix.size() || FoldCase(target.substr(0, prefix.size())) != prefix) return nullptr;
    std::shared_ptr<RegKey> current = State().root;
    for (const std::u16string& name : Components(target.substr(prefix.size()))) {
        const auto it = current->subkeys.find(FoldCase(name));
        if (it == current->subkeys.end()) return nullptr;
        current = FollowLinkLocked(it->second, depth + 1);
        if (!current) return nullptr;
    }
    return current;
}

std::u16string FoldedPathLocked(const RegKey& key) {
    std::u16string path;
    for (const RegKey* k = &key; k != nullptr && k->parent != nullptr; k = k->parent)
        path = path.empty() ? FoldCase(k->name) : FoldCase(k->name) + u"\\" + path;
    return path;
}

bool IsDeniedPathLocked(const std::u16string& foldedPath, REGSAM requested) {
    for (const Denial& denial : State().denials)
        if (denial.foldedPath == foldedPath && (denial.rights & requested) != 0) return true;
    return false;
}

bool IsDeniedLocked(const RegKey& key, REGSAM requested) {
    return !key.deleted && IsDeniedPathLocked(FoldedPathLocked(key), requested);
}

bool IsDeleteDeniedLocked(const RegKey& key) {
    if (key.deleted) return false;
    const std::u16string path = FoldedPathLocked(key);
    for (const Denial& denial : State().denials)
        if (denial.foldedPath == path) return true;
    return false;
}

HKEY AddHandleLocked(const std::shared_ptr<RegKey>& key, REGSAM access) {
    const std::uintptr_t value = NextHandleValueLocked();
    State().handles.emplace(value, OpenKey{key, GrantedAccess(access), false});
    return reinterpret_cast<HKEY>(value);
}

bool CloseHandleLocked(HKEY handle) {
    return State().handles.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

void RecordOpenLocked(REGSAM access) { State().lastOpenAccess = access; }

std::shared_ptr<RegKey> CreateChildLocked(RegKey& parent, const std::u16string& name) {
    auto child = std::make_shared<RegKey>();
    child->name = name;
    child->parent = &parent;
    parent.subkeys.emplace(FoldCase(name), child);
    return child;
}

void DetachLocked(RegKey& key) {
    RegKey* parent = key.parent;
    const std::u16string folded = FoldCase(key.name);
    MarkDeletedLocked(key);
    // Erasing may drop the last reference to `key`: nothing touches it after this.
    if (parent != nullptr) parent->subkeys.erase(folded);
}

}  // namespace KestraneEmu::Detail

namespace KestraneEmu {

void ResetRegistry() {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    Detail::RegistryState& state = Detail::State();
    // Handles opened before keep their (now deleted) keys, so they fail cleanly
    // with ERROR_KEY_DELETED rather than reach into the new tree.
    Detail::MarkDeletedLocked(*state.root);
    state.root = std::make_shared<Detail::RegKey>();
    state.denials.clear();
    state.lastOpenAccess = 0;
    Detail::ResetProcessesLocked();
    Detail::BuildSkeletonLocked(state);
    Detail::ClearFaultsLocked();
}

void DenyAccess(HKEY root, const std::u16string& path, REGSAM deniedRights) {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    std::vector<std::u16string> components;
    if (!Detail::IsPredefinedRoot(root) || Detail::SplitPathLocked(path.c_str(), &components) != ERROR_SUCCESS) return;
    std::u16string folded = Detail::FoldCase(Detail::RootPathLocked(root));
    for (const std::u16string& name : components) folded += u"\\" + Detail::FoldCase(name);
    Detail::State().denials.push_back(Detail::Denial{folded, deniedRights});
}

std::size_t OpenKeyCount() {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    return Detail::State().handles.size();
}

REGSAM LastOpenAccess() {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    return Detail::State().lastOpenAccess;
}

}  // namespace KestraneEmu
