#include "core/Characters.hpp"

#include <gtest/gtest.h>

namespace {

// "e" with a combining acute accent, a flag (two regional indicators) and a
// family emoji joined by zero-width joiners: one character each, several code points.
const std::string accented = "e\xCC\x81";                                   // 3 bytes
const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";                 // 8 bytes
const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 11 bytes

TEST(Characters, CountAndPrefixGoByUserPerceivedCharacters) {
    const std::string text = "a" + accented + flag + family + "z";
    EXPECT_EQ(Characters::count(text), 5u);
    EXPECT_EQ(Characters::count(""), 0u);
    EXPECT_EQ(Characters::prefix(text, 0), "");
    EXPECT_EQ(Characters::prefix(text, 2), "a" + accented);
    EXPECT_EQ(Characters::prefix(text, 4), "a" + accented + flag + family);
    EXPECT_EQ(Characters::prefix(text, 9), text);
}

// ASCII text is counted without the break iterator; a non-ASCII letter at
// the end sends the same text through it, so both ways must agree.
TEST(Characters, CountOfASCIIAgreesWithTheBreakIterator) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"plain", 5},  {"\r\n", 1},           {"\n\r", 2},          {"\r\r\n", 2},
        {"a\r\nb", 3}, {"\r\n\r\n", 2},       {"\r", 1},             {std::string("\t\x01\x7f\0", 4), 4},
        {"", 0},       {"x\r\n\n\r\ny", 5},
    };
    const std::string lastLetter = "\xC3\xA9";  // é, one code point
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(Characters::count(text), expected) << testing::PrintToString(text);
        EXPECT_EQ(Characters::count(text + lastLetter), expected + 1) << testing::PrintToString(text);
    }
}

TEST(Characters, PrefixWithinBytesEndsOnACharacterBoundary) {
    const std::string text = "a" + accented + flag + "z";  // boundaries at 0, 1, 4, 12, 13
    const std::pair<std::size_t, std::string> cases[] = {
        {0, ""}, {1, "a"}, {3, "a"}, {4, "a" + accented}, {11, "a" + accented},
        {12, "a" + accented + flag}, {13, text}, {100, text},
    };
    for (const auto& [limit, expected] : cases) EXPECT_EQ(Characters::prefixWithinBytes(text, limit), expected) << limit;
    EXPECT_EQ(Characters::prefixWithinBytes(family + family, 12), family);
}

TEST(Characters, LowerCasedIsFullUnicodeInTheRootLocale) {
    const std::pair<std::string, std::string> cases[] = {
        {"README.MD", "readme.md"},
        {"\xE2\x84\xAA", "k"},                   // the Kelvin sign becomes an ASCII k
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},  // ÉTÉ
        {"I", "i"},                               // no Turkish dotless i in the root locale
        {"", ""},
    };
    for (const auto& [text, lower] : cases) EXPECT_EQ(Characters::lowerCased(text), lower) << text;
}

}  // namespace
