// The UTF-8 check must accept exactly what the JSON library writes as text:
// the console chooses between a text body and Base64 by it.
#include "core/UTF8.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

bool jsonAccepts(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

TEST(UTF8, AgreesWithTheJSONLibrary) {
    struct {
        const char* name;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"empty", "", true},
        {"ascii", "plain text\n", true},
        {"two bytes", "\xC3\xA9", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"last code point", "\xF4\x8F\xBF\xBF", true},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past the last code point", "\xF4\x90\x80\x80", false},
        {"cut short", "ab\xE2\x82", false},
        {"lone continuation", "\x80", false},
        {"lead byte F5", "\xF5\x80\x80\x80", false},
        {"bad continuation", "\xE2\x28\xA1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UTF8::isValid(c.bytes), c.valid) << c.name;
        EXPECT_EQ(jsonAccepts(c.bytes), c.valid) << c.name;
    }
}

}  // namespace
