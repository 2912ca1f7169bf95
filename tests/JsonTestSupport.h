// A parsed request document for the tests that call the JSON helpers directly.
#pragma once

#include "json/Json.h"
#include "tests/TestSupport.h"

namespace KestraneTest {

struct Parsed {
    explicit Parsed(const std::string& json) : text(W(json)) {
        doc.Parse(text.c_str());
        EXPECT_FALSE(doc.HasParseError()) << json;
    }
    WString text;
    Svc::JsonDocument doc;
};

// The fixed beginnings of the lines the JSON helpers write.
inline const std::string kGetLine = "Qv::Corvane::Server::Services::JsonUtils.GetJsonValue - ";
inline const std::string kParseLine = "Qv::Corvane::Server::Services::JsonUtils.ParseJsonValue - ";
inline const std::string kNullLine = "Qv::Corvane::Server::Services::UtilHelper.NullChecker - ";

}  // namespace KestraneTest
