// Typed, logged access to request members: what each operation accepts, what it
// refuses, and the exact warning it writes.
#include "json/JsonUtils.h"
#include "tests/JsonTestSupport.h"

using namespace KestraneTest;
using Svc::JsonUtils;
using Svc::JsonValue;

// Which members count as found, and what the miss logs, show through every function id
// (RequestRefusalTest); the member found is the document's own (RequestRecordsTest).
TEST(JsonUtils, TheFirstOfTwoEqualNamesWins) {
    Parsed twice(R"({"a":"first","a":"second"})");
    const JsonValue* out = nullptr;
    ASSERT_TRUE(JsonUtils::GetJsonValue(&twice.doc, WIDE("a"), &out, WIDE("c")));
    EXPECT_EQ(U8(out->GetString()), "first");
}

TEST(JsonUtils, PointerChecksAndTheClientIdOfTheirLines) {
    Parsed p(R"({"keyPath":null})");
    LogCapture capture;
    const JsonValue* out = nullptr;
    EXPECT_FALSE(JsonUtils::GetJsonValue(nullptr, nullptr, nullptr, WIDE("c")));
    EXPECT_EQ(capture.Messages(), (std::vector<std::string>{kNullLine + "document cannot be null",
                                                            kNullLine + "jsonName cannot be null",
                                                            kNullLine + "outJsonValue cannot be null"}));

    // GetJsonValue logs with at most 64 units of the client id, and with none for null.
    capture.Clear();
    const WString longId = W(std::string(64, 'i') + "tail");
    EXPECT_FALSE(JsonUtils::GetJsonValue(&p.doc, WIDE("keyPath"), &out, longId.c_str()));
    EXPECT_FALSE(JsonUtils::GetJsonValue(&p.doc, WIDE("keyPath"), &out, nullptr));
    auto records = capture.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].clientId, std::string(64, 'i'));
    EXPECT_EQ(records[1].clientId, "");

    // Every typed read needs a client id, and checks its pointers in argument order.
    capture.Clear();
    const WCHAR* text = WIDE("untouched");
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("keyPath"), &text, nullptr));
    EXPECT_EQ(U8(text), "untouched");
    bool flag = true;
    EXPECT_FALSE(JsonUtils::ParseJsonValue(nullptr, nullptr, &flag, nullptr));
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("keyPath"), static_cast<int32_t*>(nullptr), WIDE("c")));
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{kNullLine + "clientId cannot be null", kNullLine + "clientId cannot be null",
                                        kNullLine + "document cannot be null", kNullLine + "jsonName cannot be null",
                                        kNullLine + "resultValue cannot be null"}));
}

TEST(JsonUtils, ParseJsonValueChecksTheTypeOfEachForm) {
    Parsed p(R"({"s":"text","e":"","nul":"a\u0000b","t":true,"f":false,"n":5,"neg":-1,"max":2147483647,
                 "min":-2147483648,"whole":4.0,"exp":1e10,"big":2147483648,
                 "low":-2147483649,"nothing":null})");
    LogCapture capture;
    const WCHAR* text = nullptr;
    EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, WIDE("s"), &text, WIDE("c")));
    EXPECT_EQ(text, p.doc[WIDE("s")].GetString());  // the document's own storage, not a copy
    EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, WIDE("e"), &text, WIDE("c")));
    EXPECT_EQ(text[0], 0);
    EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, WIDE("nul"), &text, WIDE("c")));
    EXPECT_EQ(U8(text), "a");

    bool flag = true;
    EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, WIDE("f"), &flag, WIDE("c")));
    EXPECT_FALSE(flag);
    EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, WIDE("t"), &flag, WIDE("c")));
    EXPECT_TRUE(flag);

    int32_t number = 0;
    const std::pair<const char*, int32_t> integers[] = {{"n", 5}, {"neg", -1}, {"max", INT32_MAX}, {"min", INT32_MIN}};
    for (auto [name, value] : integers) {
        EXPECT_TRUE(JsonUtils::ParseJsonValue(&p.doc, W(name).c_str(), &number, WIDE("c"))) << name;
        EXPECT_EQ(number, value);
    }
    EXPECT_TRUE(capture.Messages().empty());

    // Mismatches: the expected number is 2 (also when false would do) or 6. (A text where
    // another type stands: RequestRefusalTest; a text for a flag or a number: RequestRecordsTest.)
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("n"), &flag, WIDE("c")));
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("t"), &number, WIDE("c")));
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("f"), &number, WIDE("c")));
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{kParseLine + "n is invalid type expected 2 result 6",
                                        kParseLine + "t is invalid type expected 6 result 2",
                                        kParseLine + "f is invalid type expected 6 result 1"}));

    // A number that is not exactly a 32-bit signed integer is refused, not converted (1.5
    // and 4294967297: RequestRecordsTest).
    for (const char* name : {"whole", "exp", "big", "low"}) {
        capture.Clear();
        number = 77;
        EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, W(name).c_str(), &number, WIDE("c"))) << name;
        EXPECT_EQ(number, 77);
        EXPECT_EQ(capture.Messages(),
                  std::vector<std::string>{kParseLine + name + " is invalid type expected 6 result 6"});
    }

    // A missing or null member: GetJsonValue's line only.
    capture.Clear();
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("nothing"), &flag, WIDE("c")));
    EXPECT_FALSE(JsonUtils::ParseJsonValue(&p.doc, WIDE("absent"), &number, WIDE("c")));
    EXPECT_EQ(capture.Messages(),
              (std::vector<std::string>{kGetLine + "nothing cannot be null", kGetLine + "document missing key absent"}));
}
