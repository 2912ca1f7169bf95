// The request records: one per command family. Each constructor validates its members
// in field order and throws the ServiceStatus code as an int after its warning. Text
// fields point into the request document; keyPath is writable because resolution
// splits it in place.
#pragma once

#include "json/Json.h"

#include <cstdint>

namespace Qv::Corvane::Server::Services::Kestrane {

struct CheckRegistryPathJson {
    CheckRegistryPathJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
};

struct ReadRegistryValueJson {
    ReadRegistryValueJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
    const WCHAR* regKeyValueName;
    bool expandString;
};

struct ReadRegistryValuesJson {
    ReadRegistryValuesJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
    bool expandString;
};

struct WriteRegistryKeyJson {
    WriteRegistryKeyJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
};

struct WriteRegistryValueJson {
    WriteRegistryValueJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
    const WCHAR* regKeyValueName;
    int32_t requestedDataType;
    const JsonValue* writeDataValue;
};

struct DeleteRegistryKeyJson {
    DeleteRegistryKeyJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
};

struct DeleteRegistryValueJson {
    DeleteRegistryValueJson(const JsonValue* document, const WCHAR* clientId);
    WCHAR* keyPath;
    const WCHAR* regKeyValueName;
};

}  // namespace Qv::Corvane::Server::Services::Kestrane
