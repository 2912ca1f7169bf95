// Requests are parsed iteratively so that nesting cannot exhaust the stack; that parser
// must accept and refuse exactly the texts the default recursive parser does.
#include "fuzz/FuzzInput.h"
#include "json/Json.h"
#include "tests/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace KestraneTest;

namespace {

// A text that trips the library's own precondition counts as refused, as the service
// answers it.
bool Accepts(const WString& text, bool iterative) {
    Svc::JsonDocument doc;
    Svc::JsonStringStream stream(text.c_str());
    try {
        if (iterative)
            doc.ParseStream<rapidjson::kParseIterativeFlag>(stream);
        else
            doc.ParseStream(stream);
    } catch (const Svc::JsonPreconditionFailed&) {
        return false;
    }
    return !doc.HasParseError();
}

}  // namespace

TEST(ParserEquivalence, BothParsersGiveTheSameVerdict) {
    const std::vector<std::string> texts = {
        "{}", "[]", "0", "-0", "1e5", "\"x\"", "true", "null", "{\"a\":[1,{\"b\":null}]}", " { } ",
        "{\"keyPath\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\"}", "{\"a\":\"\\u0000\"}", "{\"a\":\"\\ud83d\\ude00\"}",
        "", " ", "{", "}", "[", "]", "{\"a\"}", "{\"a\":}", "{\"a\":1,}", "[1,]", "[,1]", "{,}", "01", "1.",
        ".5", "+1", "1e", "--1", "\"\\x\"", "\"abc", "{\"a\":1}}", "{} {}", "[1]x", "nul", "True", "{'a':1}",
        "{\"a\":\"\\ud800\"}", "{\"a\":\"\\udc00\"}", "[1e400]", "[-1e400]", "\"\t\"", "{\"a\" 1}", "[[[]]]",
        "[[[]]", "{\"a\":{\"b\":{\"c\":[]}}}", "\"\\u12\"", "[\"\\/\"]", "{\"\":0}", "NaN", "[Infinity]",
    };
    for (const std::string& text : texts) {
        const WString wide = W(text);
        EXPECT_EQ(Accepts(wide, true), Accepts(wide, false)) << text;
    }
    LoadedService service;
    for (const char* escaped : {R"({"keyPath":"\udc00"})", R"({"keyPath":"\ud800"})"})
        EXPECT_EQ(Execute(service.get(), 0, escaped).status, Svc::InvalidJson) << escaped;
    // A lone surrogate unit in the text itself, not as an escape.
    const WString lone = {u'"', 0xD800, u'"'};
    EXPECT_EQ(Accepts(lone, true), Accepts(lone, false));
}

// Every request the fuzzer starts from, and whatever it has grown from them in this
// checkout (build/fuzz/corpus, present after ./dev.sh fuzz), as the service decodes it.
TEST(ParserEquivalence, TheFuzzCorpusGetsTheSameVerdict) {
    namespace fs = std::filesystem;
    const fs::path seeds = KESTRANE_FUZZ_SEEDS;
    const fs::path grown = seeds.parent_path().parent_path().parent_path() / "build" / "fuzz" / "corpus" / "execute";
    std::size_t seen = 0;
    std::size_t accepted = 0;
    for (const fs::path& folder : {seeds, grown}) {
        std::error_code missing;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, missing)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            const KestraneFuzz::Request request =
                KestraneFuzz::DecodeRequest(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            // The service sees the text up to its first NUL.
            const WString text(request.text.c_str());
            const bool iterative = Accepts(text, true);
            EXPECT_EQ(iterative, Accepts(text, false)) << entry.path().string();
            ++seen;
            accepted += iterative;
        }
        if (folder == seeds) {
            ASSERT_GE(seen, 30u) << "the seeds are missing from " << seeds.string();
        }
    }
    // The seeds are mostly valid requests; a decoding slip would refuse them all.
    EXPECT_GE(accepted, 25u);
}
