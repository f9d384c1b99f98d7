#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/bridge/VersionItems.hpp"

namespace {

struct Expected {
    Expected(std::string key, std::optional<std::string> file = std::nullopt,
             std::optional<std::string> path = std::nullopt)
        : key(std::move(key)), file(std::move(file)), path(std::move(path)) {}
    std::string key;
    std::optional<std::string> file;
    std::optional<std::string> path;
};

struct ReadCase {
    const char* body;
    std::size_t max;
    std::vector<Expected> items;
};

TEST(VersionItems, ReadsWhatTheBodyAsksAbout) {
    const std::vector<ReadCase> cases = {
        {R"({"items": [{"key": "a", "path": "a.md"}, {"key": 7, "file": "f1"}]})", 200,
         {{"a", std::nullopt, "a.md"}, {"7", "f1", std::nullopt}}},
        // Keys: numbers in decimal as the library writes them, other types empty.
        {R"({"items": [{"key": -3}, {"key": 1.5}, {"key": true}, {"key": null}, {"key": {"k": 1}}, {"key": [1]}, {}]})",
         200, {{"-3"}, {"1.5"}, {""}, {""}, {""}, {""}, {""}}},
        // A member that is not text counts as absent; the last of two counts.
        {R"({"items": [{"path": 5, "file": ["f1"]}, {"key": "a", "key": "b", "path": "x.md", "path": {}}]})", 200,
         {{"", std::nullopt, std::nullopt}, {"b", std::nullopt, std::nullopt}}},
        // Members of nested objects are not the item's.
        {R"({"items": [{"key": "a", "extra": {"key": "b", "path": "x.md", "items": []}}], "other": {"items": 3}})",
         200, {{"a"}}},
        // The last "items" counts.
        {R"({"items": [{"key": "a"}], "items": [{"key": "b"}]})", 200, {{"b"}}},
        {R"({"items": [{"key": "a"}], "items": 3})", 200, {}},
        // Only the first `max` are taken.
        {R"({"items": [{"key": "a"}, {"key": "b"}, {"key": "c"}]})", 2, {{"a"}, {"b"}}},
        // Bodies that ask about nothing.
        {R"({"items": [{"key": "a"}, 3]})", 200, {}},
        {R"({"items": [{"key": "a"}, []]})", 200, {}},
        {R"({"items": [{"key": "a"}, {"key": "b"}, 3]})", 2, {}},  // past the maximum the items must still be objects
        {R"({"items": {"key": "a"}})", 200, {}},
        {R"({"other": [{"key": "a"}]})", 200, {}},
        {R"([{"items": [{"key": "a"}]}])", 200, {}},
        {R"("items")", 200, {}},
        {R"({"items": [{"key": "a"}]} trailing)", 200, {}},
        {R"({"items": [{"key": "a"})", 200, {}},
        {"{\"items\": [{\"key\": \"\xff\"}]}", 200, {}},  // not UTF-8
        {"", 200, {}},
    };
    for (const auto& c : cases) {
        auto items = readVersionItems(c.body, c.max);
        ASSERT_EQ(items.size(), c.items.size()) << c.body;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].key, c.items[i].key) << c.body << " item " << i;
            EXPECT_EQ(items[i].file, c.items[i].file) << c.body << " item " << i;
            EXPECT_EQ(items[i].path, c.items[i].path) << c.body << " item " << i;
        }
    }
}

TEST(VersionItems, TheAnswerIsTheJSONTheLibraryWouldWrite) {
    std::vector<std::pair<std::string, std::string>> states = {
        {"b", "missing"}, {"a", "first"}, {"dup", "earlier"}, {"quote\"back\\slash\nline\x01", "x"},
        {"é", "unicode"}, {"dup", "later"}, {"", "empty"},
    };
    nlohmann::json expected = nlohmann::json::object();
    for (const auto& [key, state] : states) expected[key] = state;  // later keys replace earlier ones
    std::string answer = versionsAnswer(states);
    EXPECT_EQ(answer, nlohmann::json({{"versions", expected}}).dump());
    EXPECT_EQ(versionsAnswer({}), R"({"versions":{}})");
}

}  // namespace
