#include "core/JSONText.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

// Whatever the text, the output is the library's own, byte for byte.
TEST(JSONText, WritesWhatTheLibraryWrites) {
    std::string everyControl;
    for (int c = 0; c < 0x20; ++c) everyControl += static_cast<char>(c);
    const std::vector<std::string> texts = {
        "",
        "plain text",
        everyControl,
        "quote \" backslash \\ slash / delete \x7f",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9d",  // two, three and four bytes
        "{\"files\":[\"a.md\",\"b\\\\c.md\"],\"truncated\":false}\n",
        "\"",
        "end\\",
    };
    for (const auto& text : texts) {
        std::string out = "prefix:";
        JSONText::appendString(out, text);
        EXPECT_EQ(out, "prefix:" + nlohmann::json(text).dump()) << nlohmann::json(text).dump();
    }
}

}  // namespace
