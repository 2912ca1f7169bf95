// The JSON types every part of the service shares: UTF-16 documents over a memory
// pool whose base allocator throws std::bad_alloc instead of returning null, so that
// running out of memory becomes a failure status rather than a null dereference.
#pragma once

#include "platform/Win32.h"

#include <cstdlib>
#include <exception>
#include <new>

// RapidJSON states its preconditions as assertions, which a release build drops and
// a debug build turns into abort(). Text from a client reaches one of them: the escape
// of a lone low surrogate ("\udc00") gets to the UTF-16 encoder. Here a failed
// precondition throws instead, in every build, and the request is refused. This must
// precede the first RapidJSON include in every file, so RapidJSON is only included
// through this header.
#ifndef RAPIDJSON_ASSERT
namespace Qv::Corvane::Server::Services {
struct JsonPreconditionFailed : std::exception {
    const char* what() const noexcept override { return "JSON library precondition failed"; }
};
}  // namespace Qv::Corvane::Server::Services
#define RAPIDJSON_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : throw ::Qv::Corvane::Server::Services::JsonPreconditionFailed())
#endif

#include <rapidjson/document.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace Qv::Corvane::Server::Services {

struct JsonMemoryBoundReached : std::bad_alloc {
    const char* what() const noexcept override { return "the call's bound on JSON memory was reached"; }
};

// Optionally bounded: once Limit is set, an allocation that would take the bytes handed
// out in all past it throws JsonMemoryBoundReached, as if memory had run out.
class ThrowingCrtAllocator {
public:
    static const bool kNeedFree = true;
    void Limit(size_t bytes) { limit_ = bytes; }
    size_t Allocated() const { return allocated_; }
    void* Malloc(size_t size) {
        if (!size) return nullptr;
        Take(size);
        void* p = std::malloc(size);
        if (!p) throw std::bad_alloc();
        return p;
    }
    void* Realloc(void* original, size_t originalSize, size_t newSize) {
        if (newSize == 0) {
            std::free(original);
            return nullptr;
        }
        if (newSize > originalSize) Take(newSize - originalSize);
        void* p = std::realloc(original, newSize);
        if (!p) throw std::bad_alloc();
        return p;
    }
    static void Free(void* ptr) { std::free(ptr); }

private:
    void Take(size_t size) {
        if (size > limit_ || allocated_ > limit_ - size) throw JsonMemoryBoundReached();
        allocated_ += size;
    }
    size_t limit_ = static_cast<size_t>(-1);
    size_t allocated_ = 0;
};

using JsonEncoding = rapidjson::UTF16<WCHAR>;
using JsonAllocator = rapidjson::MemoryPoolAllocator<ThrowingCrtAllocator>;
// The parse stacks come from the document's pool as well, so a call that gives its
// documents one arena parses without touching the heap.
using JsonDocument = rapidjson::GenericDocument<JsonEncoding, JsonAllocator, JsonAllocator>;
using JsonValue = rapidjson::GenericValue<JsonEncoding, JsonAllocator>;
using JsonStringBuffer = rapidjson::GenericStringBuffer<JsonEncoding, ThrowingCrtAllocator>;
using JsonWriter = rapidjson::Writer<JsonStringBuffer, JsonEncoding, JsonEncoding, ThrowingCrtAllocator>;
using JsonStringStream = rapidjson::GenericStringStream<JsonEncoding>;
// Serialisation into a pool: the response text and the writer's nesting stack.
using JsonPoolStringBuffer = rapidjson::GenericStringBuffer<JsonEncoding, JsonAllocator>;
using JsonPoolWriter = rapidjson::Writer<JsonPoolStringBuffer, JsonEncoding, JsonEncoding, JsonAllocator>;

}  // namespace Qv::Corvane::Server::Services
