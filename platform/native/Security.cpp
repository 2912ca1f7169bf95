// Processes, their tokens and users' SIDs, the last error, and kernel handles.
// A SID here is an opaque block that carries its own text, laid out so that
// GetTokenInformation can copy it into the caller's buffer behind the TOKEN_USER.
#include "platform/native/EmuCore.h"
#include "platform/native/Emulation.h"

#include <unistd.h>

#include <cstring>
#include <map>
#include <unordered_map>

namespace KestraneEmu {
namespace {

thread_local DWORD lastError = 0;

enum class HandleKind { Process, Token };

struct KernelObject {
    HandleKind kind;
    std::u16string userSid;  // captured at open time, as a real token is
};

struct SidHeader {
    std::uint32_t magic;
    std::uint32_t units;  // text length without the NUL, which follows the header
};
constexpr std::uint32_t kSidMagic = 0x44495345;  // "ESID"

struct SecurityState {
    std::map<DWORD, std::u16string> processes;
    std::map<DWORD, DWORD> sessions;  // only those told; the rest are in session 1
    std::unordered_map<std::uintptr_t, KernelObject> handles;
};

SecurityState& State() {
    static SecurityState state = [] {
        SecurityState initial;
        initial.processes[GetCurrentProcessId()] = kDefaultUserSid;
        return initial;
    }();
    return state;
}

const KernelObject* FindLocked(HANDLE handle, HandleKind kind) {
    const auto it = State().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == State().handles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

HANDLE AddHandleLocked(HandleKind kind, const std::u16string& sid) {
    const std::uintptr_t value = Detail::NextHandleValueLocked();
    State().handles.emplace(value, KernelObject{kind, sid});
    return reinterpret_cast<HANDLE>(value);
}

BOOL Fail(DWORD error) {
    lastError = error;
    return FALSE;
}

// The text a SID block carries; false when the block is no SID.
bool SidText(PSID sid, std::u16string* text) {
    SidHeader header{};
    if (sid == nullptr) return false;
    std::memcpy(&header, sid, sizeof header);
    if (header.magic != kSidMagic) return false;
    text->assign(header.units, u'\0');
    std::memcpy(text->data(), static_cast<const unsigned char*>(sid) + sizeof header, header.units * sizeof(WCHAR));
    return true;
}

// GetCurrentThread's pseudo handle, as on Windows.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

}  // namespace

void AddProcess(DWORD pid, const std::u16string& userSid) {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    State().processes[pid] = userSid;
}

void RemoveProcess(DWORD pid) {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    State().processes.erase(pid);
    State().sessions.erase(pid);
}

void SetProcessSession(DWORD pid, DWORD session) {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    State().sessions[pid] = session;
}

std::size_t OpenHandleCount() {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    return State().handles.size();
}

namespace Detail {

std::u16string ProcessUserSidLocked(DWORD pid) {
    const auto it = State().processes.find(pid);
    return it == State().processes.end() ? std::u16string() : it->second;
}

std::u16string CurrentUserSidLocked() {
    const std::u16string sid = ProcessUserSidLocked(GetCurrentProcessId());
    return sid.empty() ? std::u16string(kDefaultUserSid) : sid;
}

void ResetProcessesLocked() {
    State().processes.clear();
    State().sessions.clear();
    State().processes[GetCurrentProcessId()] = kDefaultUserSid;
}

}  // namespace Detail
}  // namespace KestraneEmu

using namespace KestraneEmu;

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE GetCurrentThread() { return kCurrentThread; }

BOOL CloseHandle(HANDLE handle) {
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    if (State().handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

HANDLE OpenProcess(DWORD desiredAccess, BOOL /*inheritHandle*/, DWORD processId) {
    DWORD error = 0;
    if (Detail::TakeFault("OpenProcess", &error)) {
        lastError = error;
        return nullptr;
    }
    // Every other process is opened as Windows opens a protected one: limited query only.
    if (processId != GetCurrentProcessId() &&
        (desiredAccess & ~DWORD{PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE}) != 0) {
        lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    const auto it = State().processes.find(processId);
    if (it == State().processes.end()) {
        // What NtOpenProcess's invalid client id becomes.
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return AddHandleLocked(HandleKind::Process, it->second);
}

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    if (sessionId == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    if (State().processes.count(processId) == 0) return Fail(ERROR_INVALID_PARAMETER);
    const auto it = State().sessions.find(processId);
    *sessionId = it == State().sessions.end() ? 1 : it->second;
    return TRUE;
}

BOOL OpenProcessToken(HANDLE process, DWORD /*desiredAccess*/, HANDLE* token) {
    DWORD error = 0;
    if (Detail::TakeFault("OpenProcessToken", &error)) return Fail(error);
    if (token == nullptr) return Fail(ERROR_NOACCESS);
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    const KernelObject* object = FindLocked(process, HandleKind::Process);
    if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
    *token = AddHandleLocked(HandleKind::Token, object->userSid);
    return TRUE;
}

BOOL OpenThreadToken(HANDLE thread, DWORD /*desiredAccess*/, BOOL /*openAsSelf*/, HANDLE* token) {
    DWORD error = 0;
    if (Detail::TakeFault("OpenThreadToken", &error)) return Fail(error);
    if (token == nullptr) return Fail(ERROR_NOACCESS);
    if (thread != kCurrentThread) return Fail(ERROR_INVALID_HANDLE);
    const std::u16string user = Detail::ImpersonatedUserSid();
    if (user.empty()) return Fail(ERROR_NO_TOKEN);
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    *token = AddHandleLocked(HandleKind::Token, user);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info, DWORD length,
                         DWORD* returnLength) {
    DWORD error = 0;
    if (Detail::TakeFault("GetTokenInformation", &error)) return Fail(error);
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    const KernelObject* object = FindLocked(token, HandleKind::Token);
    if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (infoClass != TokenUser) return Fail(ERROR_INVALID_PARAMETER);

    const std::u16string& text = object->userSid;
    const std::size_t sidBytes = sizeof(SidHeader) + (text.size() + 1) * sizeof(WCHAR);
    const auto needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sidBytes);
    if (returnLength != nullptr) *returnLength = needed;
    if (length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (info == nullptr) return Fail(ERROR_NOACCESS);

    auto* bytes = static_cast<unsigned char*>(info);
    unsigned char* sid = bytes + sizeof(TOKEN_USER);
    TOKEN_USER user{};
    user.User.Sid = sid;
    user.User.Attributes = 0;
    std::memcpy(bytes, &user, sizeof user);
    const SidHeader header{kSidMagic, static_cast<std::uint32_t>(text.size())};
    std::memcpy(sid, &header, sizeof header);
    std::memcpy(sid + sizeof header, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* stringSid) {
    DWORD error = 0;
    if (Detail::TakeFault("ConvertSidToStringSidW", &error)) return Fail(error);
    if (stringSid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string text;
    if (!SidText(sid, &text)) return Fail(ERROR_INVALID_SID);
    const std::lock_guard<std::mutex> lock(Detail::StateMutex());
    WCHAR* copy = Detail::LocalAllocTextLocked(text);
    if (copy == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    *stringSid = copy;
    return TRUE;
}

BOOL EqualSid(PSID first, PSID second) {
    std::u16string one;
    std::u16string other;
    if (!SidText(first, &one) || !SidText(second, &other)) return Fail(ERROR_INVALID_SID);
    // A SID's text is canonical, so equal SIDs spell it alike.
    lastError = ERROR_SUCCESS;
    return one == other ? TRUE : FALSE;
}
