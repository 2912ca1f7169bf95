#include "cli/CliCalls.h"

#include "cli/Utf8.h"

#include <windows.h>
#include <wincrypt.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <memory>

namespace Kestrane::Host {

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Text(Writer& writer, const wchar_t* text) {
    const std::string utf8 = ToUtf8(text);
    writer.String(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()));
}

std::string Base64(const unsigned char* bytes, unsigned long size) {
    DWORD length = 0;
    if (size == 0 || !CryptBinaryToStringA(bytes, size, CRYPT_STRING_BASE64, nullptr, &length)) return {};
    std::string text(length + 8, '\0');  // Wine's count may fall short of what it writes
    DWORD room = static_cast<DWORD>(text.size());
    if (!CryptBinaryToStringA(bytes, size, CRYPT_STRING_BASE64, text.data(), &room)) return {};
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

void Value(Writer& writer, const KestraneValue& value) {
    writer.StartObject();
    writer.Key("dataType");
    writer.Int(static_cast<int>(value.type));
    writer.Key("valueData");
    switch (value.type) {
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: writer.Int(static_cast<int32_t>(value.data.dword)); break;
    case REG_QWORD: writer.Int64(static_cast<int64_t>(value.data.qword)); break;
    case REG_BINARY: {
        const std::string text = Base64(value.data.binary.bytes, value.data.binary.size);
        writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
        break;
    }
    case REG_MULTI_SZ:
        writer.StartArray();
        for (unsigned long i = 0; i < value.data.multi.count; ++i) Text(writer, value.data.multi.items[i]);
        writer.EndArray();
        break;
    default: Text(writer, value.data.text); break;
    }
    writer.EndObject();
}

// {"result":...} with body writing the result, once the call succeeded.
template <typename Body>
void Result(CliAnswer& answer, Body body) {
    if (!answer.Delivered() || answer.status != KESTRANE_STATUS_SUCCESS) return;
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writer.Key("result");
    body(writer);
    writer.EndObject();
    answer.text = buffer.GetString();
    answer.hasText = true;
}

CliAnswer Typed(KestraneSession* session, const CliRequest& request) {
    CliAnswer answer;
    const wchar_t* key = request.key.c_str();
    const wchar_t* name = request.name.c_str();
    auto done = [&](KestraneResult result) {
        answer.result = result;
        answer.error = result == KESTRANE_OK ? 0 : GetLastError();
    };
    auto flag = [](bool value) { return [value](Writer& writer) { writer.Bool(value); }; };
    int yes = 0;
    if (request.verb == "exists") {
        done(KestraneKeyExists(session, key, &answer.status, &yes));
        Result(answer, flag(yes != 0));
    } else if (request.verb == "add") {
        done(KestraneCreateKey(session, key, &answer.status));
        Result(answer, flag(true));
    } else if (request.verb == "set") {
        const KestraneValue value = request.Value();
        done(KestraneWriteValue(session, key, name, &value, &answer.status));
        Result(answer, flag(true));
    } else if (request.verb == "delete" && request.named) {
        done(KestraneDeleteValue(session, key, name, &answer.status));
        Result(answer, flag(true));
    } else if (request.verb == "delete") {
        done(KestraneDeleteKey(session, key, &answer.status, &yes));
        Result(answer, flag(yes != 0));
    } else if (request.verb == "subkeys") {
        KestraneNameList* names = nullptr;
        done(KestraneListSubkeys(session, key, &answer.status, &names));
        const std::unique_ptr<KestraneNameList, decltype(&KestraneFreeNameList)> owned(names, &KestraneFreeNameList);
        Result(answer, [&](Writer& writer) {
            writer.StartObject();
            for (unsigned long i = 0; i < names->count; ++i) {
                Text(writer, names->names[i]);
                writer.StartObject();
                writer.EndObject();
            }
            writer.EndObject();
        });
    } else if (request.named) {
        KestraneValue* value = nullptr;
        done(KestraneReadValue(session, key, name, request.expand, &answer.status, &value));
        const std::unique_ptr<KestraneValue, decltype(&KestraneFreeValue)> owned(value, &KestraneFreeValue);
        Result(answer, [&](Writer& writer) {
            writer.StartObject();
            Text(writer, name);
            Value(writer, *value);
            writer.EndObject();
        });
    } else {
        KestraneValueList* values = nullptr;
        done(KestraneReadValues(session, key, request.expand, &answer.status, &values));
        const std::unique_ptr<KestraneValueList, decltype(&KestraneFreeValueList)> owned(values,
                                                                                         &KestraneFreeValueList);
        Result(answer, [&](Writer& writer) {
            writer.StartObject();
            for (unsigned long i = 0; i < values->count; ++i) {
                Text(writer, values->items[i].name);
                Value(writer, values->items[i].value);
            }
            writer.EndObject();
        });
    }
    return answer;
}

}  // namespace

CliAnswer RunRequest(KestraneSession* session, const CliRequest& request) {
    if (request.verb != "call") return Typed(session, request);
    CliAnswer answer;
    wchar_t* response = nullptr;
    answer.result = KestraneExecute(session, request.functionId, request.json.c_str(), &answer.status, &response);
    answer.error = answer.Delivered() ? 0 : GetLastError();
    if (response != nullptr) {
        answer.text = ToUtf8(response);
        answer.hasText = true;
        KestraneFreeResponse(response);
    }
    return answer;
}

}  // namespace Kestrane::Host
