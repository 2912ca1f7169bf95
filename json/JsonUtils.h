#pragma once

#include "json/Json.h"

#include <cstdint>

namespace Qv::Corvane::Server::Services {

// Typed, logged access to members of a request document. Each operation answers
// with a boolean and writes one warning for each thing it rejects; none throws.
class JsonUtils {
public:
    static bool GetJsonValue(const JsonValue* document, const WCHAR* jsonName, const JsonValue** outJsonValue,
                             const WCHAR* clientId);
    static bool ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, const WCHAR** resultValue,
                               const WCHAR* clientId);
    static bool ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, bool* resultValue,
                               const WCHAR* clientId);
    static bool ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, int32_t* resultValue,
                               const WCHAR* clientId);
};

}  // namespace Qv::Corvane::Server::Services
