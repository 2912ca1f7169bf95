// JSON for the tests: a parsed request document for the helpers that take one, the
// fixed beginnings of the lines those helpers write, and replies as text or parsed.
#pragma once

#include "json/Json.h"
#include "tests/TestSupport.h"

#include <rapidjson/document.h>

namespace KestraneTest {

struct Parsed {
    explicit Parsed(const std::string& json) : text(W(json)) {
        doc.Parse(text.c_str());
        EXPECT_FALSE(doc.HasParseError()) << json;
    }
    WString text;
    Svc::JsonDocument doc;
};

inline const std::string kGetLine = "Qv::Corvane::Server::Services::JsonUtils.GetJsonValue - ";
inline const std::string kParseLine = "Qv::Corvane::Server::Services::JsonUtils.ParseJsonValue - ";
inline const std::string kNullLine = "Qv::Corvane::Server::Services::UtilHelper.NullChecker - ";

// Compact JSON text of a value.
inline std::string ToJson(const Svc::JsonValue& value) {
    Svc::JsonStringBuffer buffer;
    Svc::JsonWriter writer(buffer);
    value.Accept(writer);
    return U8(buffer.GetString());
}

inline rapidjson::Document ParseReply(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

}  // namespace KestraneTest
