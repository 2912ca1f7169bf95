#include "client/AnswerReader.h"

#include "client/Base64.h"
#include "json/Json.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace Kestrane::Client {

namespace {

using Qv::Corvane::Server::Services::JsonAllocator;
using Qv::Corvane::Server::Services::JsonDocument;
using Qv::Corvane::Server::Services::JsonMemoryBoundReached;
using Qv::Corvane::Server::Services::JsonPreconditionFailed;
using Qv::Corvane::Server::Services::JsonStringStream;
using Qv::Corvane::Server::Services::JsonValue;
using Qv::Corvane::Server::Services::ThrowingCrtAllocator;

// What parsing one answer may take: any text within KESTRANE_MAX_ANSWER_CHARS needs
// well under it (a document is about four times its text at worst), so only a
// reader's fault could reach it; it keeps the parse bounded all the same.
constexpr size_t kMaxAnswerJsonBytes = 2 * 1024 * 1024;
constexpr size_t kPoolChunkBytes = 64 * 1024;
constexpr size_t kParseStackBytes = 1024;

// Parses answer into document within the bounds; false when it is not one JSON value.
// The iterative parser: nesting as deep as the text allows cannot exhaust the stack.
bool Parse(const wchar_t* answer, JsonDocument& document) {
    if (answer == nullptr) return false;  // its length was checked as it came in
    JsonStringStream stream(answer);
    try {
        document.ParseStream<rapidjson::kParseIterativeFlag>(stream);
    } catch (const JsonPreconditionFailed&) {
        return false;
    } catch (const JsonMemoryBoundReached&) {
        return false;
    }
    return !document.HasParseError();
}

// The answer's "result", when it is the only member.
const JsonValue* Result(const JsonDocument& document) {
    if (!document.IsObject() || document.MemberCount() != 1) return nullptr;
    const auto member = document.MemberBegin();
    const JsonValue& name = member->name;
    if (name.GetStringLength() != 6 || std::wmemcmp(name.GetString(), L"result", 6) != 0) return nullptr;
    return &member->value;
}

// Lays out a result in one block: a first pass with no block measures, a second fills.
class Block {
public:
    explicit Block(unsigned char* base = nullptr) : base_(base) {}
    bool Filling() const { return base_ != nullptr; }
    size_t Used() const { return used_; }

    template <typename T>
    T* Take(size_t count) {
        used_ = (used_ + alignof(T) - 1) / alignof(T) * alignof(T);
        T* at = base_ != nullptr ? reinterpret_cast<T*>(base_ + used_) : nullptr;
        used_ += sizeof(T) * count;
        return at;
    }

    const wchar_t* Text(const JsonValue& string) {
        const size_t units = string.GetStringLength();
        wchar_t* at = Take<wchar_t>(units + 1);
        if (at != nullptr) {
            std::memcpy(at, string.GetString(), units * sizeof(wchar_t));
            at[units] = L'\0';
        }
        return at;
    }

private:
    unsigned char* base_;
    size_t used_ = 0;
};

// Runs lay(block) to measure, then into a zeroed block of that size; null when lay
// refuses the answer.
template <typename Root, typename Lay>
Root* Build(Lay lay) {
    Block measure;
    if (!lay(measure)) return nullptr;
    auto* base = static_cast<unsigned char*>(std::calloc(1, measure.Used()));
    if (base == nullptr) throw std::bad_alloc();
    Block block(base);
    lay(block);
    return reinterpret_cast<Root*>(base);
}

bool Decode64(const JsonValue& text, Block& block, KestraneValue* out) {
    const DWORD units = text.GetStringLength();
    DWORD size = 0;
    if (!DecodeBase64(text.GetString(), units, nullptr, &size)) return false;
    auto* bytes = block.Take<unsigned char>(size);
    if (bytes != nullptr && !DecodeBase64(text.GetString(), units, bytes, &size)) return false;
    if (out != nullptr) out->data.binary = {bytes, size};
    return true;
}

// One value object {"dataType":N,"valueData":...} into out (null while measuring).
bool LayValue(const JsonValue& object, Block& block, KestraneValue* out) {
    if (!object.IsObject() || object.MemberCount() != 2) return false;
    const auto type = object.FindMember(L"dataType");
    const auto data = object.FindMember(L"valueData");
    if (type == object.MemberEnd() || data == object.MemberEnd() || !type->value.IsInt()) return false;
    const JsonValue& value = data->value;
    const int code = type->value.GetInt();
    if (out != nullptr) out->type = static_cast<unsigned long>(code);
    switch (code) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_LINK: {
        if (!value.IsString()) return false;
        const wchar_t* text = block.Text(value);
        if (out != nullptr) out->data.text = text;
        return true;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (!value.IsInt()) return false;
        if (out != nullptr) out->data.dword = static_cast<uint32_t>(value.GetInt());
        return true;
    case REG_QWORD:
        if (!value.IsInt64()) return false;
        if (out != nullptr) out->data.qword = static_cast<uint64_t>(value.GetInt64());
        return true;
    case REG_BINARY:
        return value.IsString() && Decode64(value, block, out);
    case REG_MULTI_SZ: {
        if (!value.IsArray()) return false;
        const auto count = value.Size();
        auto** items = block.Take<const wchar_t*>(count);
        for (rapidjson::SizeType i = 0; i < count; ++i) {
            if (!value[i].IsString()) return false;
            const wchar_t* item = block.Text(value[i]);
            if (items != nullptr) items[i] = item;
        }
        if (out != nullptr) out->data.multi = {items, count};
        return true;
    }
    default:
        return false;
    }
}

template <typename Read>
bool WithDocument(const wchar_t* answer, Read read) {
    ThrowingCrtAllocator heap;
    heap.Limit(kMaxAnswerJsonBytes);
    JsonAllocator pool(kPoolChunkBytes, &heap);
    JsonDocument document(&pool, kParseStackBytes, &pool);
    try {
        return Parse(answer, document) && read(document);
    } catch (const JsonMemoryBoundReached&) {
        return false;
    }
}

}  // namespace

bool ReadFlag(const wchar_t* answer, bool* result) {
    return WithDocument(answer, [&](const JsonDocument& document) {
        const JsonValue* flag = Result(document);
        if (flag == nullptr || !flag->IsBool()) return false;
        *result = flag->GetBool();
        return true;
    });
}

bool ReadOneValue(const wchar_t* answer, KestraneValue** value) {
    return WithDocument(answer, [&](const JsonDocument& document) {
        const JsonValue* result = Result(document);
        if (result == nullptr || !result->IsObject() || result->MemberCount() != 1) return false;
        const JsonValue& object = result->MemberBegin()->value;
        *value = Build<KestraneValue>([&](Block& block) {
            KestraneValue* root = block.Take<KestraneValue>(1);
            return LayValue(object, block, root);
        });
        return *value != nullptr;
    });
}

bool ReadValueList(const wchar_t* answer, KestraneValueList** values) {
    return WithDocument(answer, [&](const JsonDocument& document) {
        const JsonValue* result = Result(document);
        if (result == nullptr || !result->IsObject()) return false;
        *values = Build<KestraneValueList>([&](Block& block) {
            KestraneValueList* root = block.Take<KestraneValueList>(1);
            KestraneNamedValue* items = block.Take<KestraneNamedValue>(result->MemberCount());
            unsigned long i = 0;
            for (auto member = result->MemberBegin(); member != result->MemberEnd(); ++member, ++i) {
                const wchar_t* name = block.Text(member->name);
                if (!LayValue(member->value, block, items != nullptr ? &items[i].value : nullptr)) return false;
                if (items != nullptr) items[i].name = name;
            }
            if (root != nullptr) *root = {i, items};
            return true;
        });
        return *values != nullptr;
    });
}

bool ReadNameList(const wchar_t* answer, KestraneNameList** names) {
    return WithDocument(answer, [&](const JsonDocument& document) {
        const JsonValue* result = Result(document);
        if (result == nullptr || !result->IsObject()) return false;
        *names = Build<KestraneNameList>([&](Block& block) {
            KestraneNameList* root = block.Take<KestraneNameList>(1);
            auto** items = block.Take<const wchar_t*>(result->MemberCount());
            unsigned long i = 0;
            for (auto member = result->MemberBegin(); member != result->MemberEnd(); ++member, ++i) {
                if (!member->value.IsObject() || member->value.MemberCount() != 0) return false;
                const wchar_t* name = block.Text(member->name);
                if (items != nullptr) items[i] = name;
            }
            if (root != nullptr) *root = {i, items};
            return true;
        });
        return *names != nullptr;
    });
}

bool ReadFailure(const wchar_t* answer) {
    return answer == nullptr ||
           WithDocument(answer, [](const JsonDocument& document) { return document.IsObject(); });
}

}  // namespace Kestrane::Client
