// The one member a command adds to its response.
#pragma once

#include "json/Json.h"

namespace Qv::Corvane::Server::Services::Kestrane {

inline void AddResult(JsonDocument* response, JsonValue& value) {
    response->AddMember(JsonValue(rapidjson::StringRef(WIDE("result"))), value, response->GetAllocator());
}

inline void AddResult(JsonDocument* response, bool result) {
    JsonValue value(result);
    AddResult(response, value);
}

}  // namespace Qv::Corvane::Server::Services::Kestrane
