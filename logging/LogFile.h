// The log file on disk: whole batches of lines appended, the file rotated before a batch
// would take it past kLogFileBytes (in the folder that was checked, and only there), and the
// platform calls that create, check and open the folder and the file without following a link.
#pragma once

#include "logging/Logging.h"

#include <cstdint>
#include <string>

namespace Qv::Corvane::Logging {

#ifdef _WIN32
using LogPath = std::wstring;
#else
using LogPath = std::string;
#endif

// Platform calls (LogFileWin32.cpp, LogFilePosix.cpp). A handle is a HANDLE or a descriptor.
using LogHandle = intptr_t;
constexpr LogHandle kNoLogHandle = -1;

LogPath ToLogPath(const WCHAR* text);
LogPath ChildPath(const LogPath& folder, const char* name);
LogPath NumberedPath(const LogPath& file, unsigned number);  // file.1, file.2, ...
LogPath DefaultLogFolder();                                   // empty when there is none
// Creates or checks the folder; on Ready, `held` keeps it open without delete sharing, so
// that it cannot be renamed or replaced while the log is in it.
LogFolderCheck SecureFolder(const LogPath& folder, LogHandle* held);
// Whether `folder` still names the very folder `held` was opened on (not one put in its place).
bool SameFolder(LogHandle held, const LogPath& folder);
// Opens the file for appending. It must be no link; with `checked` a new file is made for
// SYSTEM and Administrators only and an existing one must be owned and accessible by no
// one else (a file named by KESTRANE_LOG keeps the permissions its folder gives).
LogFolderCheck OpenForAppend(const LogPath& file, bool checked, LogHandle* handle, uint64_t* size);
bool WriteAll(LogHandle handle, const char* data, std::size_t size);
void CloseHandleOf(LogHandle handle);
bool RenameReplacing(const LogPath& from, const LogPath& to);
void RemoveFile(const LogPath& file);
// Whether this thread acts for a client, at any impersonation level (it must not create,
// open or rotate the log then).
bool ThreadImpersonates();
// Tells an administrator once why the log has no file.
void SayWhyNoFile(const LogPath& where, LogFolderCheck check);

class LogFile {
public:
    LogFile() = default;
    ~LogFile() { Close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // `folder` (held open by the caller, or kNoLogHandle for a file named on its own) is
    // checked again before each new file is made in `folderPath`.
    LogFolderCheck Open(const LogPath& path, bool checked, LogHandle folder = kNoLogHandle,
                        const LogPath& folderPath = LogPath());
    bool IsOpen() const { return handle_ != kNoLogHandle; }
    const LogPath& Path() const { return path_; }

    // What an administrator must be told, once each time it starts.
    enum class Notice { None, RotationBlocked, Dropping, RotationResumed };
    // Whole lines only, written as one piece: the file is rotated before a piece would
    // take it past kLogFileBytes. When the file cannot be rotated (a reader without delete sharing, a
    // folder no longer in its place), batches go on into the current file up to
    // kLogFileBytes + kLogOverrunBytes; past that they are dropped until rotation works again.
    Notice Append(const char* lines, std::size_t size);
    void Close();

private:
    bool Rotate();

    LogPath path_;
    LogPath folderPath_;
    LogHandle folder_ = kNoLogHandle;
    bool checked_ = false;
    bool blocked_ = false;
    bool dropping_ = false;
    LogHandle handle_ = kNoLogHandle;
    uint64_t size_ = 0;
};

}  // namespace Qv::Corvane::Logging
