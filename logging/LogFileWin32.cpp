// The log's folder and file on Windows: created with an explicit security descriptor
// (SYSTEM and Administrators, full control, nothing inherited, nobody else), and refused
// when someone else owns or may touch them, or when a link is in the way.
#ifdef _WIN32
#include "logging/LogFile.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace Qv::Corvane::Logging {
namespace {

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// Protected DACLs: nothing is inherited from %ProgramData%, whose own lets users add files.
// The owner is left to the creating token (SYSTEM for the service).
LocalMemory Descriptor(bool folder) {
    const wchar_t* text = folder ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    return LocalMemory(descriptor);
}

// The user this process runs as, read once; a thread's impersonation does not change it.
PSID ProcessUser() {
    static const std::vector<BYTE> user = [] {
        std::vector<BYTE> buffer;
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        buffer.resize(size);
        if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
        CloseHandle(token);
        return buffer;
    }();
    return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

bool Trusted(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
    const PSID self = ProcessUser();
    return self != nullptr && EqualSid(sid, self);
}

// Rights that let someone read the log, change it, or take the folder over.
constexpr ACCESS_MASK kGuarded = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                 FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                                 GENERIC_READ | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

LogFolderCheck CheckOwnerAndDacl(HANDLE handle) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return LogFolderCheck::CannotCreate;
    }
    const LocalMemory held(descriptor);
    if (!Trusted(owner)) return LogFolderCheck::ForeignOwner;
    if (dacl == nullptr) return LogFolderCheck::OthersHaveAccess;  // a null DACL lets everyone in
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return LogFolderCheck::OthersHaveAccess;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE) continue;
        // Every allowing kind of entry keeps its mask right after the header; only the
        // plain kind is read for its SID, the others count as someone else.
        const ACCESS_MASK mask = static_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
        const bool plain = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        PSID sid = plain ? reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart) : nullptr;
        if ((mask & kGuarded) != 0 && !Trusted(sid)) return LogFolderCheck::OthersHaveAccess;
    }
    return LogFolderCheck::Ready;
}

bool SamePath(const LogPath& asked, HANDLE handle) {
    wchar_t full[MAX_PATH * 2];
    DWORD length = GetFullPathNameW(asked.c_str(), MAX_PATH * 2, full, nullptr);
    if (length == 0 || length >= MAX_PATH * 2) return false;
    wchar_t longer[MAX_PATH * 2];
    const DWORD longLength = GetLongPathNameW(full, longer, MAX_PATH * 2);
    const wchar_t* expected = longLength != 0 && longLength < MAX_PATH * 2 ? longer : full;
    wchar_t named[MAX_PATH * 2];
    length = GetFinalPathNameByHandleW(handle, named, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= MAX_PATH * 2) return false;
    const wchar_t* opened = named;
    if (wcsncmp(opened, L"\\\\?\\", 4) == 0) opened += 4;
    return CompareStringOrdinal(opened, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// What the handle turned out to be. `full` adds the owner and DACL checks.
LogFolderCheck CheckOpened(const LogPath& path, HANDLE handle, bool folder, bool full) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return LogFolderCheck::CannotCreate;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return LogFolderCheck::Link;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) return LogFolderCheck::WrongType;
    // Another name for the same file could be a file someone else chose.
    if (!folder && info.nNumberOfLinks > 1) return LogFolderCheck::Link;
    // A link anywhere on the way: the handle names some other place. (Wine follows
    // links it finds on Unix even when asked not to; this is how it shows.)
    if (!SamePath(path, handle)) return LogFolderCheck::Link;
    return full ? CheckOwnerAndDacl(handle) : LogFolderCheck::Ready;
}

bool LinkByName(const LogPath& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

LogPath ToLogPath(const WCHAR* text) { return text != nullptr ? LogPath(text) : LogPath(); }

LogPath ChildPath(const LogPath& folder, const char* name) {
    LogPath path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    for (const char* p = name; *p; ++p) path += static_cast<wchar_t>(*p);
    return path;
}

LogPath NumberedPath(const LogPath& file, unsigned number) { return file + L"." + std::to_wstring(number); }

LogPath DefaultLogFolder() {
    const wchar_t* data = _wgetenv(L"ProgramData");
    if (data == nullptr || *data == 0) return LogPath();
    return ChildPath(data, "Kestrane");
}

LogFolderCheck SecureFolder(const LogPath& folder, LogHandle* held) {
    *held = kNoLogHandle;
    if (folder.empty()) return LogFolderCheck::NotFound;
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const LocalMemory descriptor = Descriptor(true);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
        if (descriptor == nullptr ||
            (!CreateDirectoryW(folder.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS)) {
            return LogFolderCheck::CannotCreate;
        }
    }
    if (LinkByName(folder)) return LogFolderCheck::Link;
    // No delete sharing: while the log is open, the folder cannot be renamed or removed.
    Handle handle(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE) return LogFolderCheck::CannotCreate;
    const LogFolderCheck check = CheckOpened(folder, handle.Get(), true, true);
    if (check == LogFolderCheck::Ready) *held = reinterpret_cast<LogHandle>(handle.Release());
    return check;
}

bool SameFolder(LogHandle held, const LogPath& folder) {
    const Handle now(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (now.Get() == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION was, is;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(held), &was) ||
        !GetFileInformationByHandle(now.Get(), &is)) {
        return false;
    }
    return (is.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           was.dwVolumeSerialNumber == is.dwVolumeSerialNumber && was.nFileIndexHigh == is.nFileIndexHigh &&
           was.nFileIndexLow == is.nFileIndexLow;
}

LogFolderCheck OpenForAppend(const LogPath& file, bool checked, LogHandle* result, uint64_t* size) {
    *result = kNoLogHandle;
    *size = 0;
    if (LinkByName(file)) return LogFolderCheck::Link;
    const LocalMemory descriptor = Descriptor(false);
    if (descriptor == nullptr) return LogFolderCheck::CannotCreate;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    Handle handle(CreateFileW(file.c_str(), FILE_APPEND_DATA | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ, checked ? &attributes : nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE) return LogFolderCheck::CannotCreate;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    const LogFolderCheck check = CheckOpened(file, handle.Get(), false, checked && existed);
    if (check != LogFolderCheck::Ready) return check;
    LARGE_INTEGER bytes;
    if (!GetFileSizeEx(handle.Get(), &bytes)) return LogFolderCheck::CannotCreate;
    *size = static_cast<uint64_t>(bytes.QuadPart);
    *result = reinterpret_cast<LogHandle>(handle.Release());
    return LogFolderCheck::Ready;
}

bool WriteAll(LogHandle handle, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

void CloseHandleOf(LogHandle handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

bool RenameReplacing(const LogPath& from, const LogPath& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

void RemoveFile(const LogPath& file) { DeleteFileW(file.c_str()); }

bool ThreadImpersonates() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        CloseHandle(token);
        return true;
    }
    // Only ERROR_NO_TOKEN says the thread acts for no one. An anonymous-level impersonation
    // cannot be opened (ERROR_CANT_OPEN_ANONYMOUS) yet acts for a client all the same, and
    // any other failure is taken the same safe way.
    return GetLastError() != ERROR_NO_TOKEN;
}

void SayWhyNoFile(const LogPath& where, LogFolderCheck check) {
    std::wstring text = L"Kestrane: no log file in " + where + L" (";
    for (const char* p = LogFolderCheckName(check); *p; ++p) text += static_cast<wchar_t>(*p);
    text += L"); logging goes on without it\n";
    OutputDebugStringW(text.c_str());
    // The Event Log is where an administrator looks for a service's complaints.
    if (HANDLE source = RegisterEventSourceW(nullptr, L"Kestrane")) {
        const wchar_t* strings[] = {text.c_str()};
        ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
        DeregisterEventSource(source);
    }
}

}  // namespace Qv::Corvane::Logging
#endif
