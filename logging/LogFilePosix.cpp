// The log's folder and file in the native build: mode 0700/0600, this user's, and no
// symbolic link followed; the same refusals as on Windows, by owner and mode bits.
#ifndef _WIN32
#include "logging/LogFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qv::Corvane::Logging {
namespace {

LogFolderCheck CheckStat(const struct stat& info, bool folder) {
    if (S_ISLNK(info.st_mode)) return LogFolderCheck::Link;
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) return LogFolderCheck::WrongType;
    if (!folder && info.st_nlink > 1) return LogFolderCheck::Link;
    if (info.st_uid != geteuid() && info.st_uid != 0) return LogFolderCheck::ForeignOwner;
    if ((info.st_mode & 077) != 0) return LogFolderCheck::OthersHaveAccess;
    return LogFolderCheck::Ready;
}

}  // namespace

LogPath ToLogPath(const WCHAR* text) {
    LogPath path;
    for (const WCHAR* p = text; p != nullptr && *p; ++p) {
        const uint32_t c = static_cast<uint16_t>(*p);
        if (c < 0x80) {
            path += static_cast<char>(c);
        } else if (c < 0x800) {
            path += static_cast<char>(0xC0 | (c >> 6));
            path += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            path += static_cast<char>(0xE0 | (c >> 12));
            path += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            path += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return path;
}

LogPath ChildPath(const LogPath& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

LogPath NumberedPath(const LogPath& file, unsigned number) { return file + "." + std::to_string(number); }

LogPath DefaultLogFolder() { return LogPath(); }

LogFolderCheck SecureFolder(const LogPath& folder, LogHandle* held) {
    *held = kNoLogHandle;
    if (folder.empty()) return LogFolderCheck::NotFound;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return LogFolderCheck::CannotCreate;
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0) return LogFolderCheck::CannotCreate;
    const LogFolderCheck check = CheckStat(info, true);
    if (check != LogFolderCheck::Ready) return check;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return LogFolderCheck::CannotCreate;
    *held = fd;
    return LogFolderCheck::Ready;
}

bool SameFolder(LogHandle held, const LogPath& folder) {
    struct stat was, is;
    return fstat(static_cast<int>(held), &was) == 0 && lstat(folder.c_str(), &is) == 0 && S_ISDIR(is.st_mode) &&
           was.st_dev == is.st_dev && was.st_ino == is.st_ino;
}

LogFolderCheck OpenForAppend(const LogPath& file, bool checked, LogHandle* result, uint64_t* size) {
    *result = kNoLogHandle;
    *size = 0;
    const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno == ELOOP ? LogFolderCheck::Link : LogFolderCheck::CannotCreate;
    struct stat info;
    LogFolderCheck check = fstat(fd, &info) == 0 ? CheckStat(info, false) : LogFolderCheck::CannotCreate;
    // A file named on the command line keeps the permissions its user gave it.
    if (!checked && (check == LogFolderCheck::ForeignOwner || check == LogFolderCheck::OthersHaveAccess)) {
        check = LogFolderCheck::Ready;
    }
    if (check != LogFolderCheck::Ready) {
        close(fd);
        return check;
    }
    *size = static_cast<uint64_t>(info.st_size);
    *result = fd;
    return LogFolderCheck::Ready;
}

bool WriteAll(LogHandle handle, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(static_cast<int>(handle), data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void CloseHandleOf(LogHandle handle) { close(static_cast<int>(handle)); }

bool RenameReplacing(const LogPath& from, const LogPath& to) { return rename(from.c_str(), to.c_str()) == 0; }

void RemoveFile(const LogPath& file) { unlink(file.c_str()); }

bool ThreadImpersonates() { return false; }

void SayWhyNoFile(const LogPath& where, LogFolderCheck check) {
    std::fprintf(stderr, "Kestrane: no log file in %s (%s); logging goes on without it\n", where.c_str(),
                 LogFolderCheckName(check));
}

}  // namespace Qv::Corvane::Logging
#endif
