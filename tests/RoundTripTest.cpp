// The promise of the JSON forms: what id 4 returns for a writable type, written back
// unchanged with id 16, reads back identical, as JSON and as registry bytes.
#include "tests/JsonTestSupport.h"
#include "tests/RegistryFixture.h"

using namespace KestraneTest;

namespace {

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7 + 3);
    return bytes;
}

Bytes Int64Bytes(int64_t value) {
    Bytes bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<BYTE>(static_cast<uint64_t>(value) >> (8 * i));
    return bytes;
}

// The valueData id 4 answers, as JSON text, or "" when the read fails.
std::string ReadBack(const LoadedService& service, const ScratchKey& key, const std::string& name) {
    const Reply reply = Execute(service.get(), 4, Req::Value(key.Path(), name));
    if (reply.status != Svc::Success) return "";
    const rapidjson::Document doc = ParseReply(reply.text);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc["result"][name.c_str()]["valueData"].Accept(writer);
    return buffer.GetString();
}

}  // namespace

TEST(RoundTrip, EveryWritableTypeSurvivesReadWriteRead) {
    ScratchKey key("RoundTrip");
    LoadedService service;
    const struct {
        const char* label;
        DWORD type;
        Bytes bytes;
    } trips[] = {
        {"empty string", REG_SZ, UnitBytes(WString(1, 0))},
        {"string", REG_SZ, UnitBytes(W(std::string("h\xC3\xA9llo \xF0\x9F\x98\x80\0", 12)))},
        {"expand string", REG_EXPAND_SZ, UnitBytes(W(std::string("%SystemRoot%\\x\0", 15)))},
        {"empty multi-string", REG_MULTI_SZ, UnitBytes(WString(1, 0))},
        {"multi-string with an empty element", REG_MULTI_SZ, UnitBytes(W(std::string("a\0\0b\0\0", 6)))},
        {"dword -1", REG_DWORD, Bytes(4, 0xFF)},
        {"dword INT32_MIN", REG_DWORD, Bytes{0, 0, 0, 0x80}},
        {"qword INT64_MIN", REG_QWORD, Int64Bytes(INT64_MIN)},
        {"qword INT64_MAX", REG_QWORD, Int64Bytes(INT64_MAX)},
        {"binary 1", REG_BINARY, Pattern(1)},
        {"binary 49", REG_BINARY, Pattern(49)},
        {"binary 4096", REG_BINARY, Pattern(4096)},
    };
    int n = 0;
    for (const auto& trip : trips) {
        const std::string original = "Original" + std::to_string(n);
        const std::string copy = "Copy" + std::to_string(n++);
        key.SetValue(original, trip.type, trip.bytes);
        const std::string first = ReadBack(service, key, original);
        ASSERT_FALSE(first.empty()) << trip.label;
        EXPECT_EQ(Execute(service.get(), 16, Req::Write(key.Path(), copy, static_cast<int>(trip.type), first)).status,
                  Svc::Success)
            << trip.label;
        EXPECT_EQ(ReadBack(service, key, copy), first) << trip.label;
        DWORD type = 0;
        Bytes bytes;
        ASSERT_TRUE(key.GetValue(copy, &type, &bytes)) << trip.label;
        EXPECT_EQ(type, trip.type) << trip.label;
        EXPECT_EQ(bytes, trip.bytes) << trip.label;
    }
}
