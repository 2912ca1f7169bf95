#include "client/RequestWriter.h"

#include "client/Base64.h"
#include "json/Json.h"

#include <cstdint>
#include <cwchar>

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
        // The host takes the Base64 its reads give, with or without line breaks.
        if (!EncodeBase64(value.data.binary.bytes, value.data.binary.size, &encoded)) return false;
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
