// The log file on disk: whole batches of lines appended, the file rotated before a batch
// would take it past kLogFileBytes, and the platform calls that create, check and open
// the folder and the file without following a link.
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
// Creates or checks the folder; on Ready, `held` keeps it open so that it cannot be
// renamed or replaced while the log is in it.
LogFolderCheck SecureFolder(const LogPath& folder, LogHandle* held);
// Opens the file for appending. It must be no link; with `checked` a new file is made for
// SYSTEM and Administrators only and an existing one must be owned and accessible by no
// one else (a file named by KESTRANE_LOG keeps the permissions its folder gives).
LogFolderCheck OpenForAppend(const LogPath& file, bool checked, LogHandle* handle, uint64_t* size);
bool WriteAll(LogHandle handle, const char* data, std::size_t size);
void CloseHandleOf(LogHandle handle);
bool RenameReplacing(const LogPath& from, const LogPath& to);
void RemoveFile(const LogPath& file);
// Whether this thread acts for a client (it must not create or open the log then).
bool ThreadImpersonates();
// Tells an administrator once why the log has no file.
void SayWhyNoFile(const LogPath& where, LogFolderCheck check);

class LogFile {
public:
    LogFile() = default;
    ~LogFile() { Close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    LogFolderCheck Open(const LogPath& path, bool checked);
    bool IsOpen() const { return handle_ != kNoLogHandle; }
    // Whole lines only; a batch the file cannot take after rotating is dropped.
    void Append(const std::string& batch);
    void Close();

private:
    bool Rotate(std::size_t incoming);

    LogPath path_;
    bool checked_ = false;
    LogHandle handle_ = kNoLogHandle;
    uint64_t size_ = 0;
};

}  // namespace Qv::Corvane::Logging
