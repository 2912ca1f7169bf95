#include "json/JsonUtils.h"

#include "json/UtilHelper.h"
#include "logging/Logging.h"
#include "service/ClientContext.h"
#include "service/TypeName.h"

namespace Qv::Corvane::Server::Services {
namespace {

using Qv::Corvane::Logging::LogManager;
using Qv::Corvane::Logging::LoggingData;

// The type numbers the warnings print are RapidJSON's own.
constexpr int kTrueTypeNumber = rapidjson::kTrueType;
constexpr int kStringTypeNumber = rapidjson::kStringType;
constexpr int kNumberTypeNumber = rapidjson::kNumberType;

void WarnInvalidType(const WCHAR* jsonName, int expected, const JsonValue& value, const WCHAR* clientId) {
    LogManager::GetLogger()->LogWarning(LoggingData{WIDE("%S.%S - %s is invalid type expected %d result %d"),
                                                    clientId, 0},
                                        TypeName<JsonUtils>(), "ParseJsonValue", jsonName, expected,
                                        static_cast<int>(value.GetType()));
}

// The checks every typed read shares: its own pointers, then the member itself.
// Answers the member's value, or null after the reason has been logged.
const JsonValue* FindTypedMember(const JsonValue* document, const WCHAR* jsonName, const void* resultValue,
                                 const WCHAR* clientId) {
    if (UtilHelper::NullChecker({{clientId, "clientId"},
                                 {document, "document"},
                                 {TypeName<JsonUtils>(), "className"},
                                 {jsonName, "jsonName"},
                                 {resultValue, "resultValue"}},
                                clientId))
        return nullptr;
    const JsonValue* value = nullptr;
    if (!JsonUtils::GetJsonValue(document, jsonName, &value, clientId)) return nullptr;
    return value;
}

}  // namespace

bool JsonUtils::GetJsonValue(const JsonValue* document, const WCHAR* jsonName, const JsonValue** outJsonValue,
                             const WCHAR* clientId) {
    // The context already cuts client ids to kMaxClientIdLength units; a longer one
    // from any other caller is cut the same way rather than overrunning the buffer.
    WCHAR client[kMaxClientIdLength + 1] = {};
    if (clientId) {
        const std::size_t length = WideLength(clientId, kMaxClientIdLength);
        for (std::size_t i = 0; i < length; ++i) client[i] = clientId[i];
    }

    const char* className = TypeName<JsonUtils>();
    if (UtilHelper::NullChecker(
            {{document, "document"}, {className, "className"}, {jsonName, "jsonName"}, {outJsonValue, "outJsonValue"}},
            client))
        return false;

    auto* logger = LogManager::GetLogger();
    // Only an object has members; any other root answers "missing" without a lookup.
    const JsonValue* found = nullptr;
    if (document->IsObject()) {
        const auto member = document->FindMember(jsonName);
        if (member != document->MemberEnd()) found = &member->value;
    }
    if (!found) {
        logger->LogWarning(LoggingData{WIDE("%S.%S - %S missing key %s"), client, 0}, className, "GetJsonValue",
                           "document", jsonName);
        return false;
    }
    if (found->IsNull()) {
        logger->LogWarning(LoggingData{WIDE("%S.%S - %s cannot be null"), client, 0}, className, "GetJsonValue",
                           jsonName);
        return false;
    }
    *outJsonValue = found;
    return true;
}

bool JsonUtils::ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, const WCHAR** resultValue,
                               const WCHAR* clientId) {
    const JsonValue* value = FindTypedMember(document, jsonName, resultValue, clientId);
    if (!value) return false;
    if (!value->IsString()) {
        WarnInvalidType(jsonName, kStringTypeNumber, *value, clientId);
        return false;
    }
    *resultValue = value->GetString();
    return true;
}

bool JsonUtils::ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, bool* resultValue,
                               const WCHAR* clientId) {
    const JsonValue* value = FindTypedMember(document, jsonName, resultValue, clientId);
    if (!value) return false;
    if (!value->IsBool()) {
        WarnInvalidType(jsonName, kTrueTypeNumber, *value, clientId);
        return false;
    }
    *resultValue = value->IsTrue();
    return true;
}

bool JsonUtils::ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, int32_t* resultValue,
                               const WCHAR* clientId) {
    const JsonValue* value = FindTypedMember(document, jsonName, resultValue, clientId);
    if (!value) return false;
    // Only a number that is exactly a 32-bit signed integer is one: a fraction, an
    // exponent form beyond the range or 2147483648 and up would otherwise need a
    // conversion that could turn a refused data type into an accepted one.
    if (!value->IsInt()) {
        WarnInvalidType(jsonName, kNumberTypeNumber, *value, clientId);
        return false;
    }
    *resultValue = value->GetInt();
    return true;
}

}  // namespace Qv::Corvane::Server::Services
