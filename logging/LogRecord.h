// A line as the logging thread hands it to the writer: what it says, copied, not yet made
// into text. Escaping, UTF-8 and the timestamp are the writer's work, so a call that logs
// pays for copying its arguments and no more.
#pragma once

#include "logging/LogField.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Qv::Corvane::Logging {

// What a line says, as logged; the texts are the caller's until the record is put down.
struct RecordFields {
    LogLevel level = LogLevel::Info;
    bool charged = false;        // a client's line, counted against `caller`'s share
    const LogCaller* caller = nullptr;  // set when charged
    const WCHAR* clientId = nullptr;
    std::size_t clientLength = 0;  // units of clientId (null: 0)
    const WCHAR* format = nullptr;
    std::size_t formatLength = 0;  // units of format, its terminator left out
    bool made = false;  // `format` is the finished message (a line of the service's own), read as it stands
    const FieldArg* args = nullptr;
    std::size_t count = 0;
    uint32_t threadId = 0;
    int64_t wallMs = 0;  // milliseconds since 1970 (UTC), the log's clock (CallerBudget.h)
};

// Records one after another in one block, grown by doubling and kept from batch to batch.
// Unlike a std::string it never fills room that a record is about to be written into.
class RecordBuffer {
public:
    // Room for `bytes` more at the end; null (and nothing changed) when memory is short.
    char* Append(std::size_t bytes);
    // Makes the room `bytes` and touches every page of it, keeping what is held; false when
    // memory is short. A thread that later appends then writes into pages already there.
    bool Warm(std::size_t bytes);
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    void Release() {
        data_.reset();
        size_ = capacity_ = 0;
    }
    void swap(RecordBuffer& other) noexcept {
        data_.swap(other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

private:
    // Moves what is held into a new block of `capacity` bytes; false (nothing changed) when memory is short.
    bool MoveTo(std::size_t capacity);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The bytes PutRecord writes, always even, so that every record and each wide text in it
// starts on an even byte. Each text is copied up to the units a line keeps of it
// (kMaxFieldUnits) with its full length.
std::size_t RecordBytes(const RecordFields& record);
void PutRecord(const RecordFields& record, std::size_t bytes, char* to);

// A record read back; its texts point into the batch it was read from.
struct RecordView {
    RecordFields fields;
    LogCaller caller{};
    std::vector<FieldArg> args;
};
// The message a record's line shows.
void MakeMessage(const RecordFields& record, WideString* message);

// Reads the record at `at` of `batch` and returns where the next one starts.
std::size_t ReadRecord(const RecordBuffer& batch, std::size_t at, RecordView* out);

// The line's text up to the second, made again only when the second changes.
struct TimestampCache {
    long long second = -1;
    char text[96] = {};
};
// Appends "2026-12-07T21:00:00.123Z LEVEL pid tid [client] message\n" in UTF-8.
void AppendLine(std::string& out, const RecordFields& record, TimestampCache& cache);

}  // namespace Qv::Corvane::Logging
