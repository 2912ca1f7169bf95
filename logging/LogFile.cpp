#include "logging/LogFile.h"

namespace Qv::Corvane::Logging {

LogFolderCheck LogFile::Open(const LogPath& path, bool checked, LogHandle folder, const LogPath& folderPath) {
    Close();
    path_ = path;
    folderPath_ = folderPath;
    folder_ = folder;
    checked_ = checked;
    blocked_ = dropping_ = false;
    return OpenForAppend(path_, checked_, &handle_, &size_);
}

LogFile::Notice LogFile::Append(const char* lines, std::size_t size) {
    if (size == 0 || path_.empty()) return Notice::None;
    Notice notice = Notice::None;
    if (handle_ == kNoLogHandle || size_ + size > kLogFileBytes) {
        if (Rotate()) {
            if (blocked_ || dropping_) notice = Notice::RotationResumed;
            blocked_ = dropping_ = false;
        } else if (handle_ != kNoLogHandle && size_ + size <= kLogFileBytes + kLogOverrunBytes) {
            if (!blocked_) notice = Notice::RotationBlocked;
            blocked_ = true;
        } else {
            if (!dropping_) notice = Notice::Dropping;
            dropping_ = true;
            return notice;
        }
    }
    if (WriteAll(handle_, lines, size)) {
        size_ += size;
    } else {
        // A failed write may have left part of the piece: the next piece starts a new file.
        size_ = kLogFileBytes + kLogOverrunBytes;
    }
    return notice;
}

// Moves the file aside first, so that a file that cannot be renamed (a reader without
// delete sharing) costs nothing: the older files stay where they are and the current one
// stays open. Only then file.(kept-1) .. file.1 shift up by one (the oldest falls off), and
// the file becomes file.1. False when no new file was started.
bool LogFile::Rotate() {
    if (handle_ != kNoLogHandle && size_ == 0) return true;
    // New files are made only in the folder that was checked.
    if (folder_ != kNoLogHandle && !SameFolder(folder_, folderPath_)) return false;
    const LogPath aside = NumberedPath(path_, 0);
    if (handle_ != kNoLogHandle) {
        CloseHandleOf(handle_);
        handle_ = kNoLogHandle;
        if (!RenameReplacing(path_, aside)) {
            OpenForAppend(path_, checked_, &handle_, &size_);
            return false;
        }
        RemoveFile(NumberedPath(path_, kLogFilesKept));
        for (unsigned n = kLogFilesKept; n > 1; --n) RenameReplacing(NumberedPath(path_, n - 1), NumberedPath(path_, n));
        RenameReplacing(aside, NumberedPath(path_, 1));
    }
    return OpenForAppend(path_, checked_, &handle_, &size_) == LogFolderCheck::Ready && size_ < kLogFileBytes;
}

void LogFile::Close() {
    if (handle_ != kNoLogHandle) CloseHandleOf(handle_);
    handle_ = kNoLogHandle;
    size_ = 0;
}

}  // namespace Qv::Corvane::Logging
