// Where records go: a pending batch that a writer thread of the library's own makes into
// lines and takes to the log file (or standard error) within kLogFlushMs, so that no line
// waits for a call from the host.
#pragma once

#include "logging/LogFile.h"
#include "logging/LogRecord.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace Qv::Corvane::Logging {

// The queue's lock, taken for every line, and what the writer and a flush wait on under it.
// On Windows a slim reader/writer lock and the system's own condition variable: the C++
// runtime's (winpthreads) cost measurably more per line in the host's calling threads, each
// wake is a kernel semaphore, and destroying one can wait forever at process exit.
#ifdef _WIN32
class QueueLock {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != FALSE; }
    SRWLOCK* Native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class QueueSignal {
public:
    void notify_one() { WakeConditionVariable(&signal_); }
    void notify_all() { WakeAllConditionVariable(&signal_); }
    // As std::condition_variable::wait_for: true once `done`, false when `wait` ran out first.
    template <class Done>
    bool wait_for(std::unique_lock<QueueLock>& lock, std::chrono::milliseconds wait, Done done) {
        const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(wait.count());
        while (!done()) {
            const ULONGLONG now = GetTickCount64();
            if (now >= until) return false;
            SleepConditionVariableSRW(&signal_, lock.mutex()->Native(), static_cast<DWORD>(until - now), 0);
        }
        return true;
    }

private:
    CONDITION_VARIABLE signal_ = CONDITION_VARIABLE_INIT;
};
#else
using QueueLock = std::mutex;
using QueueSignal = std::condition_variable;
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
    QueueSignal wake_;     // the writer: kLogWakeBytes pending, a flush, or stop
    QueueSignal written_;  // Flush and a caller held back by a full queue
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
