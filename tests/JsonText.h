// Compact JSON text of a value, and UTF-8 parsing of a reply, for comparisons.
#pragma once

#include "json/Json.h"
#include "tests/TestSupport.h"

#include <rapidjson/document.h>

namespace KestraneTest {

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
