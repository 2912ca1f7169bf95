#include "client/RequestWriter.h"

#include "json/Json.h"

#include <cstdint>
#include <cwchar>
#include <memory>

namespace Kestrane::Client {

namespace {

using Qv::Corvane::Server::Services::JsonStringBuffer;
using Qv::Corvane::Server::Services::JsonWriter;

void Text(JsonWriter& writer, const wchar_t* text) {
    writer.String(text, static_cast<rapidjson::SizeType>(std::wcslen(text)));
}

void Start(JsonWriter& writer, const wchar_t* keyPath, const wchar_t* valueName) {
    writer.StartObject();
    writer.Key(L"keyPath");
    Text(writer, keyPath);
    if (valueName != nullptr) {
        writer.Key(L"regKeyValueName");
        Text(writer, valueName);
    }
}

std::wstring Finish(JsonWriter& writer, const JsonStringBuffer& buffer) {
    writer.EndObject();
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

// The host takes the Base64 form its reads give, with or without line breaks.
bool Base64(const unsigned char* bytes, unsigned long size, std::wstring* text) {
    text->clear();
    if (size == 0) return true;
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD units = 0;
    if (!CryptBinaryToStringW(bytes, size, kFlags, nullptr, &units)) return false;
    // Wine's count may fall short of what it writes: room to spare, and the NUL decides.
    const DWORD room = units + 8;
    std::unique_ptr<wchar_t[]> encoded(new wchar_t[room]());
    DWORD written = room;
    if (!CryptBinaryToStringW(bytes, size, kFlags, encoded.get(), &written)) return false;
    text->assign(encoded.get(), wcsnlen(encoded.get(), room));
    return true;
}

}  // namespace

std::wstring KeyRequest(const wchar_t* keyPath, const wchar_t* valueName, const bool* expand) {
    JsonStringBuffer buffer;
    JsonWriter writer(buffer);
    Start(writer, keyPath, valueName);
    if (expand != nullptr) {
        writer.Key(L"expandString");
        writer.Bool(*expand);
    }
    return Finish(writer, buffer);
}

bool WriteRequest(const wchar_t* keyPath, const wchar_t* valueName, const KestraneValue& value,
                  std::wstring* request) {
    JsonStringBuffer buffer;
    JsonWriter writer(buffer);
    Start(writer, keyPath, valueName);
    writer.Key(L"requestedDataType");
    writer.Int(static_cast<int>(value.type));
    writer.Key(L"writeDataValue");
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (value.data.text == nullptr) return false;
        Text(writer, value.data.text);
        break;
    case REG_DWORD:  // the host takes the registry's bits as a signed number
        writer.Int(static_cast<int32_t>(static_cast<uint32_t>(value.data.dword)));
        break;
    case REG_QWORD:
        writer.Int64(static_cast<int64_t>(value.data.qword));
        break;
    case REG_BINARY: {
        std::wstring encoded;
        if (value.data.binary.size != 0 && value.data.binary.bytes == nullptr) return false;
        if (!Base64(value.data.binary.bytes, value.data.binary.size, &encoded)) return false;
        writer.String(encoded.c_str(), static_cast<rapidjson::SizeType>(encoded.size()));
        break;
    }
    case REG_MULTI_SZ:
        if (value.data.multi.count != 0 && value.data.multi.items == nullptr) return false;
        writer.StartArray();
        for (unsigned long i = 0; i < value.data.multi.count; ++i) {
            if (value.data.multi.items[i] == nullptr) return false;
            Text(writer, value.data.multi.items[i]);
        }
        writer.EndArray();
        break;
    default:
        return false;
    }
    *request = Finish(writer, buffer);
    return true;
}

}  // namespace Kestrane::Client
