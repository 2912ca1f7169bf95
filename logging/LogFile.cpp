#include "logging/LogFile.h"

namespace Qv::Corvane::Logging {

LogFolderCheck LogFile::Open(const LogPath& path, bool checked) {
    Close();
    path_ = path;
    checked_ = checked;
    return OpenForAppend(path_, checked_, &handle_, &size_);
}

void LogFile::Append(const std::string& batch) {
    if (batch.empty() || path_.empty()) return;
    if ((handle_ == kNoLogHandle || size_ + batch.size() > kLogFileBytes) && !Rotate(batch.size())) return;
    if (WriteAll(handle_, batch.data(), batch.size())) {
        size_ += batch.size();
    } else {
        // A failed write may have left part of the batch: the next batch starts a new file.
        size_ = kLogFileBytes;
    }
}

// Closes the file, shifts file.1 .. file.(kept-1) up by one (the oldest falls off),
// moves the file to file.1 and opens a new one. False when the file cannot take the
// batch, as when a reader without delete sharing blocks the rename: nothing is written
// then, so the bound holds, and the next batch tries again.
bool LogFile::Rotate(std::size_t incoming) {
    if (handle_ != kNoLogHandle && size_ > 0) {
        CloseHandleOf(handle_);
        handle_ = kNoLogHandle;
        RemoveFile(NumberedPath(path_, kLogFilesKept));
        for (unsigned n = kLogFilesKept; n > 1; --n) RenameReplacing(NumberedPath(path_, n - 1), NumberedPath(path_, n));
        RenameReplacing(path_, NumberedPath(path_, 1));
    }
    if (handle_ == kNoLogHandle && OpenForAppend(path_, checked_, &handle_, &size_) != LogFolderCheck::Ready) {
        return false;
    }
    return size_ + incoming <= kLogFileBytes;
}

void LogFile::Close() {
    if (handle_ != kNoLogHandle) CloseHandleOf(handle_);
    handle_ = kNoLogHandle;
    size_ = 0;
}

}  // namespace Qv::Corvane::Logging
