// Registry data to JSON: one value object per value, in the fixed forms clients
// write back unchanged.
#include "service/KestraneService.h"

#include "json/UtilHelper.h"

#include <algorithm>
#include <cstring>

namespace Qv::Corvane::Server::Services::Kestrane {
namespace {

// Value and key names longer than the registry allows are cut at its limit.
constexpr std::size_t kMaxNameLength = 16383;

// Expansion reads into a fixed buffer whatever the stored size: 260 bytes.
constexpr DWORD kExpandBufferBytes = 260;
// Wine's RegGetValueW expands into a buffer too small for the result by taking its
// byte size for a character count, so it may write twice the size given. The read
// gets that much room behind the buffer; the converters still see only the buffer.
constexpr DWORD kExpandSlackFactor = 2;

const WCHAR* const kSizeWarning = WIDE("%S.%S - %S size of collection $s cannot be 0");

WCHAR UnitAt(const std::vector<BYTE>& bytes, std::size_t index) {
    WCHAR unit;
    std::memcpy(&unit, bytes.data() + index * sizeof(WCHAR), sizeof(WCHAR));
    return unit;
}

uint32_t LittleEndian32(const BYTE* b) {
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

}  // namespace

bool KestraneService::GetRegKeyValue(JsonDocument* response, JsonValue* resultObj, HKEY* key, DWORD size,
                                     const WCHAR* valueName, int32_t type, const WCHAR* clientId, bool expandString) {
    static const char* const kOperation = "GetRegKeyValue";
    if (UtilHelper::NullChecker(
            {{response, "response"}, {resultObj, "resultObj"}, {key, "key"}, {valueName, "valueName"}}, clientId))
        return false;
    if (!resultObj->IsObject()) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - %s is invalid type expected %d result %d"), WIDE("resultObj"),
                   static_cast<int>(rapidjson::kObjectType), static_cast<int>(resultObj->GetType()));
        return false;
    }

    DWORD flags = RRF_RT_ANY | RRF_NOEXPAND;
    if (expandString && type == REG_EXPAND_SZ) {
        flags = RRF_RT_ANY;
        size = kExpandBufferBytes;
    }
    const bool expanding = (flags & RRF_NOEXPAND) == 0;
    std::vector<BYTE> data(expanding ? std::size_t{size} * kExpandSlackFactor + sizeof(WCHAR) : size);
    DWORD read = size;
    const LSTATUS result = RegGetValueW(*key, nullptr, valueName, flags, nullptr, size ? data.data() : nullptr, &read);
    data.resize(size);
    if (result != ERROR_SUCCESS) {
        WarnFailedCall(WIDE("RegGetValue"), result, clientId, kOperation);
        return false;
    }

    JsonAllocator& allocator = response->GetAllocator();
    JsonValue converted;
    if (!WriteRegValuetoJson(response, &converted, &data, static_cast<DWORD>(type), read, clientId)) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - %s unable to write json value for $s"), valueName);
        return false;
    }
    JsonValue object(rapidjson::kObjectType);
    object.AddMember(JsonValue(rapidjson::StringRef(WIDE("dataType"))), JsonValue(type), allocator);
    object.AddMember(JsonValue(rapidjson::StringRef(WIDE("valueData"))), converted, allocator);
    JsonValue name(valueName, static_cast<rapidjson::SizeType>(WideLength(valueName, kMaxNameLength)), allocator);
    resultObj->AddMember(name, object, allocator);
    return true;
}

bool KestraneService::WriteRegValuetoJson(JsonDocument* response, JsonValue* dataValue,
                                          const std::vector<BYTE>* value, DWORD type, DWORD size,
                                          const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{response, "response"}, {dataValue, "dataValue"}, {value, "value"}}, clientId))
        return false;
    if (value->empty()) {
        LogWarning(clientId, "WriteRegValuetoJson", kSizeWarning, "value");
        return false;
    }
    // The integers need all their bytes; shorter data is not a number of that type.
    const std::size_t available = std::min<std::size_t>(size, value->size());
    const BYTE* bytes = value->data();
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK:
            return StringToJsonValue(response, value, dataValue, clientId);
        case REG_BINARY:
            return BinaryToJsonValue(response, value, size, dataValue, clientId);
        case REG_MULTI_SZ:
            return MultiStringToJsonArray(response, value, dataValue, clientId);
        case REG_DWORD:
            if (available < 4) return false;
            dataValue->SetInt(static_cast<int32_t>(LittleEndian32(bytes)));
            return true;
        case REG_DWORD_BIG_ENDIAN:
            if (available < 4) return false;
            dataValue->SetInt(static_cast<int32_t>(uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                                                   uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]}));
            return true;
        case REG_QWORD:
            if (available < 8) return false;
            dataValue->SetInt64(static_cast<int64_t>(uint64_t{LittleEndian32(bytes)} |
                                                     uint64_t{LittleEndian32(bytes + 4)} << 32));
            return true;
        default:
            return false;
    }
}

bool KestraneService::StringToJsonValue(JsonDocument* document, const std::vector<BYTE>* value,
                                        JsonValue* jsonStringObject, const WCHAR* clientId) {
    static const char* const kOperation = "StringToJsonValue";
    if (UtilHelper::NullChecker({{document, "document"}, {value, "value"}, {jsonStringObject, "jsonStringObject"}},
                                clientId))
        return false;
    if (value->empty()) {
        LogWarning(clientId, kOperation, kSizeWarning, "value");
        return false;
    }
    const std::size_t units = value->size() / sizeof(WCHAR);  // an odd last byte is no unit
    if (units == 0) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - %S cannot be null"), "regValueString");
        return false;
    }
    // The string ends at the first NUL, or with the data when it stored none.
    std::size_t length = 0;
    while (length < units && UnitAt(*value, length) != 0) ++length;
    // Copied straight from the bytes into the document's pool, where SetString would
    // have copied it anyway; the bytes are not WCHARs to read through a WCHAR pointer.
    auto* text = static_cast<WCHAR*>(document->GetAllocator().Malloc((length + 1) * sizeof(WCHAR)));
    std::memcpy(text, value->data(), length * sizeof(WCHAR));
    text[length] = 0;
    jsonStringObject->SetString(rapidjson::StringRef(text, static_cast<rapidjson::SizeType>(length)));
    return true;
}

bool KestraneService::MultiStringToJsonArray(JsonDocument* document, const std::vector<BYTE>* value,
                                             JsonValue* jsonArray, const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{document, "document"}, {value, "value"}, {jsonArray, "jsonArray"}}, clientId))
        return false;
    if (value->empty()) {
        LogWarning(clientId, "MultiStringToJsonArray", kSizeWarning, "value");
        return false;
    }
    JsonAllocator& allocator = document->GetAllocator();
    jsonArray->SetArray();
    const std::size_t units = value->size() / sizeof(WCHAR);
    if (units <= 1) return true;

    // The last unit is the list's terminator and is never read as text. Units after
    // the last NUL before it are an unterminated string and are dropped.
    std::basic_string<WCHAR> text(units, WCHAR{});
    std::memcpy(&text[0], value->data(), units * sizeof(WCHAR));
    std::size_t start = 0;
    for (std::size_t k = 0; k < units - 1; ++k) {
        if (text[k] != 0) continue;
        jsonArray->PushBack(JsonValue(text.data() + start, static_cast<rapidjson::SizeType>(k - start), allocator),
                            allocator);
        start = k + 1;
        if (start == units - 1) break;
    }
    return true;
}

bool KestraneService::BinaryToJsonValue(JsonDocument* document, const std::vector<BYTE>* value, DWORD size,
                                        JsonValue* output, const WCHAR* clientId) {
    static const char* const kOperation = "BinaryToJsonValue";
    if (UtilHelper::NullChecker({{document, "document"}, {value, "value"}}, clientId)) return false;
    if (output == nullptr) return false;
    if (value->empty()) {
        LogWarning(clientId, kOperation, kSizeWarning, "value");
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(std::min<std::size_t>(size, value->size()));
    if (bytes == 0) {
        // The value shrank to nothing since it was sized. Wine's encoder also writes
        // more than the length it reports for zero bytes, so it is never asked.
        LogWarning(clientId, kOperation, kSizeWarning, "value");
        return false;
    }
    DWORD length = 0;
    if (!CryptBinaryToStringW(value->data(), bytes, CRYPT_STRING_BASE64, nullptr, &length)) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - unable to 64 base encode binary"));
        return false;
    }
    std::vector<WCHAR> text(std::size_t{length} + 1);
    DWORD written = length + 1;
    if (!CryptBinaryToStringW(value->data(), bytes, CRYPT_STRING_BASE64, text.data(), &written)) {
        LogWarning(clientId, kOperation, WIDE("%S.%S - unable to 64 base encode binary"));
        return false;
    }
    output->SetString(text.data(), static_cast<rapidjson::SizeType>(WideLength(text.data(), text.size() - 1)),
                      document->GetAllocator());
    return true;
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
