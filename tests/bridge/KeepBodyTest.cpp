// The keep body is read in one pass for speed; whatever it is given, it must
// answer what the JSON library would: the same members, and a text literal
// that decodes to the library's text.
#include "app/bridge/KeepBody.hpp"

#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

namespace {

// The library's reading of a keep body.
std::optional<KeepBody> byTheLibrary(const std::string& text) {
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("text") || !parsed["text"].is_string()) return std::nullopt;
    auto member = [&](const char* key) -> std::optional<std::string> {
        if (!parsed.contains(key) || !parsed[key].is_string()) return std::nullopt;
        return parsed[key].get<std::string>();
    };
    return KeepBody{member("id"), member("name"), member("base"), member("path"), member("file"),
                    parsed["text"].get<std::string>()};
}

// Fails the test unless KeepBody reads `text` as the library does.
void expectSameReading(const std::string& text) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 200)));
    auto expected = byTheLibrary(text);
    auto read = KeepBody::read(text);
    ASSERT_EQ(read.has_value(), expected.has_value());
    if (!read) return;
    EXPECT_EQ(read->id, expected->id);
    EXPECT_EQ(read->name, expected->name);
    EXPECT_EQ(read->base, expected->base);
    EXPECT_EQ(read->path, expected->path);
    EXPECT_EQ(read->file, expected->file);
    auto literal = nlohmann::json::parse(read->textLiteral, nullptr, false);
    ASSERT_TRUE(literal.is_string()) << read->textLiteral.substr(0, 200);
    EXPECT_EQ(literal.get<std::string>(), expected->textLiteral);
}

TEST(KeepBody, ReadsAsTheLibraryDoes) {
    const std::string cases[] = {
        R"({"id": "abcdef", "text": "plain", "name": "a.md", "base": "v1", "path": "a.md", "file": "f1"})",
        R"({"text": "quote \" backslash \\ slash \/ \b\f\n\r\t"})",
        R"({"text": "\u00e9\u0000\uFFFF \ud83d\ude00"})",
        "{\"text\": \"raw \xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC\"}",
        R"({"text": "lone high \ud83d"})",
        R"({"text": "lone high then letter \ud83dx"})",
        R"({"text": "high then high \ud83d\ud83d"})",
        R"({"text": "lone low \ude00"})",
        R"({"text": "short \u12"})",
        R"({"text": "bad hex \u12g4"})",
        R"({"text": "bad escape \x41"})",
        R"({"text": "escape at the end \)",
        "{\"text\": \"raw line break \n\"}",
        "{\"text\": \"raw tab \t\"}",
        "{\"text\": \"overlong \xC0\xAF\"}",
        "{\"text\": \"surrogate \xED\xA0\x80\"}",
        "{\"text\": \"cut \xE2\x82\"}",
        "{\"text\": \"stray \x80\"}",
        "{\"text\": \"past the end \xF4\x90\x80\x80\"}",
        R"({"text": "first", "text": "second"})",
        R"({"text": "first", "text": 5})",
        R"({"text": 5, "text": "second"})",
        R"({"t\u0065xt": "escaped name", "id": "abcdef"})",
        R"({"id": "ab\u0063def", "text": "x", "name": "\u00e9"})",
        R"({"text": "x", "id": 5, "name": null, "base": ["v"], "path": {"a": 1}, "file": true})",
        R"({"text": "x", "cursor": 12, "views": [1, 2]})",
        " \t\r\n{ \n\"text\" \t:\r\n \"x\" ,\n \"id\" : \"abcdef\" \n} \n",
        R"({"text": "x"} trailing)",
        R"({"text": "x",})",
        R"({"text" "x"})",
        R"({"text": "x")",
        R"({"text": "unterminated)",
        "{}",
        "[]",
        R"(["text", "x"])",
        R"("text")",
        "",
        "\xEF\xBB\xBF{\"text\": \"after a byte order mark\"}",
        R"({"id": "abcdef"})",
        R"({"text": ""})",
    };
    for (const std::string& text : cases) expectSameReading(text);
}

// Every special character at every place within and around the eight bytes
// the reader looks at together.
TEST(KeepBody, FindsSpecialCharactersAtEveryOffset) {
    const std::string specials[] = {"\\\"", "\\\\", "\\n", "\\u00e9", "\\ud83d\\ude00", "\xC3\xA9", "\x01", "\"",
                                    "\\", "\xFF"};
    for (const std::string& special : specials) {
        for (std::size_t offset = 0; offset < 20; ++offset) {
            expectSameReading(R"({"text": ")" + std::string(offset, 'a') + special + std::string(offset % 9, 'b') +
                              R"("})");
        }
    }
}

// Bodies the page could send, damaged at random: never a different reading.
TEST(KeepBody, DamagedBodiesAreReadAsTheLibraryReadsThem) {
    const std::string whole =
        R"({"id": "draft-1", "name": "Pl\u00e4ne.md", "base": "", "path": "notes/a.md", "text": "# Title\n\nSome \"quoted\" text, )"
        "caf\xC3\xA9 and \\\\ more\\t\\ud83d\\ude00 end.\"}";
    const char replacements[] = {'"', '\\', 'u', '{', '}', ',', ':', ' ', '\n', '\x80', '\xC3', '0', 'd', 'D'};
    std::mt19937 random(20261211);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = whole;
        int changes = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < changes; ++i) {
            std::size_t at = random() % damaged.size();
            switch (random() % 3) {
                case 0: damaged[at] = replacements[random() % sizeof replacements]; break;
                case 1: damaged.erase(at, 1); break;
                default: damaged.insert(at, 1, replacements[random() % sizeof replacements]);
            }
        }
        expectSameReading(damaged);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
