// The writer: started by the first line that finds none running, never from DllMain; every
// kLogGatherMs it takes the records pending (at once when kLogWakeBytes are waiting or
// FlushLog asks), makes their lines, writes them, and ends after kWriterIdleMs without lines.
// Making the lines here keeps that work off the threads that serve calls: a record is a
// copy, a line costs escaping, UTF-8 and the time's text. The writer looks for records on
// its own rather than being woken by each first one: waking a thread on another CPU costs
// the thread that logs tens of microseconds under Wine, as much as a dozen lines.
// Only the writer, or a host calling OpenLog, OpenLogFolder or CloseLog on its own account,
// opens, writes or rotates the file: never a thread acting for a client.
//
// On Windows the writer holds a reference to this library, so FreeLibrary by the host
// cannot unmap the code it runs: the library unloads only after the writer has written
// everything and let go (FreeLibraryAndExitThread). At process exit Windows ends the
// writer first, wherever it is; a static object's destructor then writes what is pending
// on the exiting thread, unless the ended writer left a lock held (the lines then stay
// unwritten). The writer object itself is never destroyed: Windows may have ended the
// writer inside any of its members, and tearing them down gains nothing as the process ends.
#include "logging/LogWriter.h"
#include "logging/HotPath.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Qv::Corvane::Logging {
namespace {

// How often the writer looks for lines: a batch costs one write, however many lines.
constexpr unsigned kLogGatherMs = 250;
// How long an idle writer waits for a line before it ends; the next line starts another.
constexpr unsigned kWriterIdleMs = 5000;
// The longest FlushLog (and CloseLog, OpenLogFolder) waits for the writer.
constexpr unsigned kLogFlushWaitMs = 5000;
// Pending bytes past which a logging thread waits for the writer before adding its line,
// so that memory stays bounded when lines come faster than the disk takes them.
constexpr std::size_t kLogPendingMaxBytes = 16 * kLogBatchBytes;
// Pending bytes at which a logging thread wakes the writer before its next look, so that
// lines coming fast are written before the queue is full.
constexpr std::size_t kLogWakeBytes = 4 * kLogBatchBytes;
// The room the writer makes when it starts, for the queue and for the batch it takes, and
// keeps while it runs: twice a batch of kLogWakeBytes. A logging thread then writes its
// records into pages already touched; growing the queue instead cost it a copy and a page
// fault every few records, about 2,400 cycles a line against 270 (cycle counts under Wine).
constexpr std::size_t kLogKeptRoomBytes = 2 * kLogWakeBytes;

thread_local bool onWriter = false;

bool Windows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

#ifdef _WIN32
DWORD WINAPI WriterThread(void* writer);

// The library's own module, counted once more for as long as a writer runs.
HMODULE ReferenceThisLibrary() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WriterThread), &self)) {
        return nullptr;
    }
    return self;
}

DWORD WINAPI WriterThread(void* writer) {
    static_cast<LogWriter*>(writer)->RunForThread();
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WriterThread), &self);
    FreeLibraryAndExitThread(self, 0);
}
#endif

}  // namespace

void LogWriter::WriteAtExit() {
#ifndef _WIN32
    {
        std::lock_guard<QueueLock> pending(pendingLock_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
#endif
    std::unique_lock<QueueLock> pending(pendingLock_, std::try_to_lock);
    if (!pending.owns_lock()) return;
    std::unique_lock<std::mutex> file(fileLock_, std::try_to_lock);
    if (!file.owns_lock()) return;
    if (destination_.load() == Destination::Unchosen && !ThreadImpersonates()) ChooseLocked();
    lines_.clear();
    MakeLines(pending_, &lines_);
    Notices unsaid;  // nobody is left to say them to
    WriteBatch(lines_, &unsaid);
    pending_.clear();
    CloseLocked();
}

KESTRANE_LOG_HOT void LogWriter::Add(const RecordFields& record) {
    // The first line chooses, as OpenLog would, unless its thread acts for a client: the
    // writer chooses then. Until chosen, "off" would still cost every line its formatting.
    if (destination_.load(std::memory_order_acquire) == Destination::Unchosen && !onWriter && !ThreadImpersonates()) {
        Choose();
    }
    // Chosen "off" (or no file could be opened): nothing is kept for a writer to drop.
    if (destination_.load(std::memory_order_acquire) == Destination::Off) return;
    const std::size_t bytes = RecordBytes(record);
    std::unique_lock<QueueLock> lock(pendingLock_);
    if (pending_.size() >= kLogPendingMaxBytes && !onWriter) {
        if (!writerRunning_) StartWriterLocked();
        wake_.notify_one();
        written_.wait_for(lock, std::chrono::milliseconds(kLogFlushWaitMs),
                          [&] { return pending_.size() < kLogPendingMaxBytes; });
        // No writer could run (the process is out of threads): the line is lost, memory stays bounded.
        if (pending_.size() >= kLogPendingMaxBytes) return;
    }
    const std::size_t before = pending_.size();
    char* room = pending_.Append(bytes);
    if (room == nullptr) return;  // out of memory: the line is lost, the caller goes on
    PutRecord(record, bytes, room);
    ++added_;
    if (!writerRunning_) {
        StartWriterLocked();
    } else if (before < kLogWakeBytes && pending_.size() >= kLogWakeBytes) {
        wake_.notify_one();
    }
}

void LogWriter::Flush() {
    std::unique_lock<QueueLock> lock(pendingLock_);
    const uint64_t target = added_;
    if (done_ >= target || onWriter) return;
    flushWanted_ = true;
    if (!writerRunning_) {
        StartWriterLocked();
    } else {
        wake_.notify_one();
    }
    written_.wait_for(lock, std::chrono::milliseconds(kLogFlushWaitMs), [&] { return done_ >= target; });
}

bool LogWriter::Choose() {
    if (ThreadImpersonates()) return false;
    std::lock_guard<std::mutex> file(fileLock_);
    return ChooseLocked();
}

LogFolderCheck LogWriter::OpenFolder(const LogPath& folder) {
    if (ThreadImpersonates()) return LogFolderCheck::CannotCreate;
    Flush();
    std::lock_guard<std::mutex> file(fileLock_);
    CloseLocked();
    return OpenFolderLocked(folder);
}

void LogWriter::Close() {
    Flush();
    std::lock_guard<std::mutex> file(fileLock_);
    CloseLocked();
    SetDestination(Destination::Off);
}

bool LogWriter::ChooseLocked() {
    if (destination_.load() != Destination::Unchosen) return destination_.load() != Destination::Off;
    const char* chosen = std::getenv("KESTRANE_LOG");
    const std::string name = chosen != nullptr ? chosen : "";
    if (name == "off") {
        SetDestination(Destination::Off);
    } else if (name == "-" || (name.empty() && DefaultLogFolder().empty() && !Windows())) {
        SetDestination(Destination::StandardError);
    } else if (name.empty()) {
        OpenFolderLocked(DefaultLogFolder());
    } else {
        LogPath path;
        for (char c : name) path += static_cast<LogPath::value_type>(static_cast<unsigned char>(c));
        const LogFolderCheck check = file_.Open(path, false);
        if (check != LogFolderCheck::Ready) SayWhyNoFile(path, check);
        SetDestination(check == LogFolderCheck::Ready ? Destination::File : Destination::Off);
    }
    return destination_.load() != Destination::Off;
}

LogFolderCheck LogWriter::OpenFolderLocked(const LogPath& folder) {
    LogFolderCheck check = SecureFolder(folder, &folder_);
    if (check == LogFolderCheck::Ready) check = file_.Open(ChildPath(folder, "kestrane.log"), true, folder_, folder);
    if (check != LogFolderCheck::Ready) {
        CloseLocked();
        SayWhyNoFile(folder, check);
    }
    SetDestination(check == LogFolderCheck::Ready ? Destination::File : Destination::Off);
    return check;
}

void LogWriter::CloseLocked() {
    file_.Close();
    if (folder_ != kNoLogHandle) CloseHandleOf(folder_);
    folder_ = kNoLogHandle;
}

void LogWriter::WriteBatch(const std::string& lines, Notices* notices) {
    if (lines.empty()) return;
    switch (destination_.load(std::memory_order_acquire)) {
    case Destination::File:
        // In pieces of whole lines of about kLogBatchBytes, so that each file is rotated
        // within that much of kLogFileBytes, however many lines a batch makes.
        for (std::size_t at = 0; at < lines.size();) {
            std::size_t end = lines.size();
            if (end - at > kLogBatchBytes) {
                end = lines.find('\n', at + kLogBatchBytes - 1);
                end = end == std::string::npos ? lines.size() : end + 1;
            }
            const LogFile::Notice notice = file_.Append(lines.data() + at, end - at);
            if (notice != LogFile::Notice::None && notices->count < 4) notices->said[notices->count++] = notice;
            at = end;
        }
        break;
    case Destination::StandardError:
        std::fwrite(lines.data(), 1, lines.size(), stderr);
        std::fflush(stderr);
        break;
    default:
        break;
    }
}

void LogWriter::StartWriterLocked() {
#ifdef _WIN32
    const HMODULE self = ReferenceThisLibrary();
    if (self == nullptr) return;
    const HANDLE thread = CreateThread(nullptr, 0, WriterThread, this, 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(self);
        return;
    }
    CloseHandle(thread);
#else
    // The one before has let go of the lock for good; it is only finishing.
    if (thread_.joinable()) thread_.join();
    try {
        thread_ = std::thread([this] { RunForThread(); });
    } catch (...) {
        return;
    }
#endif
    writerRunning_ = true;
}

void LogWriter::RunForThread() {
    using Clock = std::chrono::steady_clock;
    onWriter = true;
    RecordBuffer warm;
    const bool warmed = records_.Warm(kLogKeptRoomBytes) && warm.Warm(kLogKeptRoomBytes);
    std::unique_lock<QueueLock> lock(pendingLock_);
    if (warmed && pending_.capacity() < warm.capacity()) {
        // What was logged before the writer ran moves into the made room.
        char* room = warm.Append(pending_.size());
        if (pending_.size() > 0) std::memcpy(room, pending_.data(), pending_.size());
        pending_.swap(warm);
    }
    Clock::time_point lastBatch = Clock::now();
    Clock::time_point nextSweep = lastBatch + std::chrono::milliseconds(kLogFlushMs);
    bool held = true;  // summaries of held-back lines still to come: the writer stays for them
    for (;;) {
        wake_.wait_for(lock, std::chrono::milliseconds(kLogGatherMs),
                       [&] { return pending_.size() >= kLogWakeBytes || flushWanted_ || stopping_; });
        if (pending_.empty() && !flushWanted_) {
            if (stopping_) break;
            // Idle: a summary may fall due, and after kWriterIdleMs the writer ends.
            const Clock::time_point now = Clock::now();
            if (now >= nextSweep) {
                lock.unlock();
                held = SweepHeldBack();
                lock.lock();
                nextSweep = now + std::chrono::milliseconds(kLogFlushMs);
            }
            if (!held && now - lastBatch >= std::chrono::milliseconds(kWriterIdleMs) && pending_.empty() &&
                !flushWanted_) {
                break;
            }
            continue;
        }
        flushWanted_ = false;
        // pending_ takes the room of the batch before, so that lines rarely wait for an allocation.
        records_.clear();
        records_.swap(pending_);
        const uint64_t upTo = added_;
        Notices notices;
        LogPath path;
        {
            std::lock_guard<std::mutex> file(fileLock_);
            lock.unlock();
            if (destination_.load() == Destination::Unchosen) ChooseLocked();
            lines_.clear();
            MakeLines(records_, &lines_);
            WriteBatch(lines_, &notices);
            if (notices.count > 0) path = file_.Path();
        }
        written_.notify_all();  // room below kLogPendingMaxBytes
        for (int i = 0; i < notices.count; ++i) SayNotice(notices.said[i], path);
        held = SweepHeldBack();
        lastBatch = Clock::now();
        lock.lock();
        // The room is kept while the writer runs, but never a flood's.
        if (records_.capacity() > kLogKeptRoomBytes) records_.Release();
        if (lines_.capacity() > kLogKeptRoomBytes) std::string().swap(lines_);
        if (notices.count > 0) {
            // The notices belong with their batch: a flush waiting for that batch waits for them too.
            flushWanted_ = true;
            continue;
        }
        done_ = upTo;
        written_.notify_all();
    }
    // Once the writer has ended, the library holds no more memory than before its first line.
    records_.Release();
    if (pending_.empty()) pending_.Release();
    std::string().swap(lines_);
    writerRunning_ = false;
    written_.notify_all();
}

namespace {

std::atomic<LogWriter*> madeWriter{nullptr};

// Writes what is pending when the library is unloaded or the process ends, if any line
// ever made the writer.
struct PendingAtExit {
    ~PendingAtExit() {
        if (LogWriter* writer = madeWriter.load()) writer->WriteAtExit();
    }
} pendingAtExit;

}  // namespace

KESTRANE_LOG_HOT LogWriter& Writer() {
    static LogWriter* const writer = [] {
        auto* made = new LogWriter;
        madeWriter.store(made);
        return made;
    }();
    return *writer;
}

}  // namespace Qv::Corvane::Logging
