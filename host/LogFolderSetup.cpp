#include "host/LogFolderSetup.h"

#include "logging/Logging.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace Kestrane::Host {

namespace {

using Qv::Corvane::Logging::LogFolderCheck;

// What another made in the folder's place: the logger would refuse it.
bool IsUnfit(LogFolderCheck check) {
    return check == LogFolderCheck::Link || check == LogFolderCheck::WrongType ||
           check == LogFolderCheck::ForeignOwner || check == LogFolderCheck::OthersHaveAccess;
}

// MoveFileExW renames a link itself, never what it leads to; without
// MOVEFILE_REPLACE_EXISTING it takes no name something already has.
bool MoveAside(const std::wstring& folder, std::wstring* movedTo) {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%08lx%08lx", now.dwHighDateTime, now.dwLowDateTime);
    for (int n = 0; n < kMoveAsideNames; ++n) {
        *movedTo = folder + L".moved-" + stamp + L"-" + std::to_wstring(n);
        if (MoveFileExW(folder.c_str(), movedTo->c_str(), 0)) return true;
    }
    return false;
}

}  // namespace

std::wstring DefaultLogFolderPath() {
    const wchar_t* data = _wgetenv(L"ProgramData");
    return data == nullptr || *data == 0 ? std::wstring() : std::wstring(data) + L"\\Kestrane";
}

int SecureLogFolderMovingAside(const std::wstring& folder, std::wstring* movedTo) {
    movedTo->clear();
    const wchar_t* path = folder.empty() ? nullptr : folder.c_str();
    LogFolderCheck check = Qv::Corvane::Logging::SecureLogFolder(path);
    if (IsUnfit(check) && !folder.empty()) {
        const char* found = Qv::Corvane::Logging::LogFolderCheckName(check);
        if (!MoveAside(folder, movedTo)) {
            std::fprintf(stderr, "kestrane-host: the log folder's place holds what the log cannot use (%s) and it "
                                 "cannot be moved aside (error %lu)\n", found, GetLastError());
            movedTo->clear();
            return 1;
        }
        std::printf("kestrane-host: moved what was in the log folder's place (%s) to %ls\n", found, movedTo->c_str());
        check = Qv::Corvane::Logging::SecureLogFolder(path);
    }
    if (check == LogFolderCheck::Ready) {
        std::printf("kestrane-host: secured the log folder\n");
        return 0;
    }
    std::fprintf(stderr, "kestrane-host: the log folder: %s\n", Qv::Corvane::Logging::LogFolderCheckName(check));
    return check == LogFolderCheck::NotFound || check == LogFolderCheck::CannotCreate ? 0 : 1;
}

}  // namespace Kestrane::Host
