#include "json/JsonUtils.h"

#include "json/UtilHelper.h"
#include "logging/Logging.h"
#include "service/ClientContext.h"
#include "service/TypeName.h"

namespace Qv::Corvane::Server::Services {
namespace {

using Qv::Corvane::Logging::LogManager;
using Qv::Corvane::Logging::LoggingData;

// The steps every typed read shares: its own pointers, the member, then its type.
// `accepts` tells whether the member's value has the form's type, `store` writes
// the result; the expected type number goes into the warning on a mismatch.
template <class T, class Accepts, class Store>
bool ParseTyped(const JsonValue* document, const WCHAR* jsonName, T* resultValue, const WCHAR* clientId,
                int expected, Accepts accepts, Store store) {
    const char* className = TypeName<JsonUtils>();
    if (UtilHelper::NullChecker({{clientId, "clientId"},
                                 {document, "document"},
                                 {className, "className"},
                                 {jsonName, "jsonName"},
                                 {resultValue, "resultValue"}},
                                clientId))
        return false;
    const JsonValue* value = nullptr;
    if (!JsonUtils::GetJsonValue(document, jsonName, &value, clientId)) return false;
    if (!accepts(*value)) {
        LogManager::GetLogger()->LogWarning(
            LoggingData{WIDE("%S.%S - %s is invalid type expected %d result %d"), clientId, 0}, className,
            "ParseJsonValue", jsonName, expected, static_cast<int>(value->GetType()));
        return false;
    }
    *resultValue = store(*value);
    return true;
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
    // The text stays in the document's storage: no copy, valid while the document is.
    return ParseTyped(
        document, jsonName, resultValue, clientId, rapidjson::kStringType,
        [](const JsonValue& v) { return v.IsString(); }, [](const JsonValue& v) { return v.GetString(); });
}

// Expected is the number of true, also where false would do.
bool JsonUtils::ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, bool* resultValue,
                               const WCHAR* clientId) {
    return ParseTyped(
        document, jsonName, resultValue, clientId, rapidjson::kTrueType,
        [](const JsonValue& v) { return v.IsBool(); }, [](const JsonValue& v) { return v.IsTrue(); });
}

// Only a number that is exactly a 32-bit signed integer is one: a fraction, an
// exponent form or 2147483648 and up would need a conversion that could turn a
// refused data type into an accepted one.
bool JsonUtils::ParseJsonValue(const JsonValue* document, const WCHAR* jsonName, int32_t* resultValue,
                               const WCHAR* clientId) {
    return ParseTyped(
        document, jsonName, resultValue, clientId, rapidjson::kNumberType,
        [](const JsonValue& v) { return v.IsInt(); }, [](const JsonValue& v) { return int32_t{v.GetInt()}; });
}

}  // namespace Qv::Corvane::Server::Services
