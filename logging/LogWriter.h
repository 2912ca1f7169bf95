// Where finished lines go: a pending batch that a writer thread of the library's own
// takes to the log file (or standard error) within kLogFlushMs, so that no line waits
// for a call from the host.
#pragma once

#include "logging/LogFile.h"
#include "logging/LogRecord.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace Qv::Corvane::Logging {

// The queue's lock, taken for every line. On Windows a slim reader/writer lock: the C++
// runtime's mutex (winpthreads) costs measurably more per line in the host's calling threads.
#ifdef _WIN32
class QueueLock {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != FALSE; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
#else
using QueueLock = std::mutex;
#endif

class LogWriter {
public:
    LogWriter() = default;
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    bool Listening() const { return destination_.load(std::memory_order_acquire) != Destination::Off; }
    // Queues a copy of the record; starts the writer on first use.
    void Add(const RecordFields& record);
    // Returns once every line added before is written (or after kLogFlushWaitMs).
    void Flush();
    bool Choose();
    LogFolderCheck OpenFolder(const LogPath& folder);
    void Close();
    // The writer thread's body: returns after kWriterIdleMs without lines.
    void RunForThread();
    // At unload or process exit: writes what is pending on this thread (see LogWriter.cpp).
    void WriteAtExit();

private:
    enum class Destination { Unchosen, Off, StandardError, File };

    void SetDestination(Destination destination) { destination_.store(destination, std::memory_order_release); }
    bool ChooseLocked();
    LogFolderCheck OpenFolderLocked(const LogPath& folder);
    void CloseLocked();
    // What writing a batch must tell an administrator, in order.
    struct Notices {
        LogFile::Notice said[4];
        int count = 0;
    };
    void WriteBatch(const std::string& lines, Notices* notices);
    void StartWriterLocked();

    std::atomic<Destination> destination_{Destination::Unchosen};

    QueueLock pendingLock_;  // before fileLock_ when both are taken
    std::condition_variable_any wake_;     // the writer: a first line, a flush, or stop
    std::condition_variable_any written_;  // Flush and a caller held back by a full batch
    RecordBuffer pending_;  // records, as PutRecord writes them
    uint64_t added_ = 0;  // batches: a count of lines added, and of lines written
    uint64_t done_ = 0;
    bool flushWanted_ = false;
    bool writerRunning_ = false;
    bool stopping_ = false;
#ifndef _WIN32
    std::thread thread_;
#endif

    // The writer's own, reused from batch to batch so that a logging thread finds room
    // already made: the records taken from pending_, and the lines made of them.
    RecordBuffer records_;
    std::string lines_;

    std::mutex fileLock_;
    LogFile file_;
    LogHandle folder_ = kNoLogHandle;
};

// The one writer. Never destroyed: see LogWriter.cpp.
LogWriter& Writer();

// Makes the lines of a batch of records (TraceLogger.cpp), charging each client's line to its
// share and leaving out those over it.
void MakeLines(const RecordBuffer& records, std::string* lines);

// A line of the service's own about the file (TraceLogger.cpp), logged after the writer has
// let go of the file: rotation blocked, lines dropped, rotation working again.
void SayNotice(LogFile::Notice notice, const LogPath& file);
// Writes the summaries of held-back lines whose window has ended (TraceLogger.cpp), and
// forgets ended windows; true while summaries are still to come, so that the writer stays
// to write them. The writer calls it after each batch and once a second while idle.
bool SweepHeldBack();

}  // namespace Qv::Corvane::Logging
