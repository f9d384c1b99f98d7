#include "core/Pattern.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(Pattern, MatchesWholeTextOnlyAndNeverLetsAFinalLineBreakThrough) {
    Pattern id("^[a-z][a-z0-9-]{1,39}$");
    struct Case {
        std::string text;
        bool matches;
    };
    const Case cases[] = {
        {"ab", true},        {"templates-2", true}, {"a", false},     {"Ab", false},
        {"ab\n", false},     {"ab\r\n", false},     {"x ab", false},  {"ab\xff", false},
        {std::string("ab\0", 3), false},
    };
    for (const auto& c : cases) EXPECT_EQ(id.matchesWhole(c.text), c.matches) << c.text;
}

TEST(Pattern, CountsCodePointsAndHonoursCaseChoice) {
    // Repetition counts code points, not bytes: three two-byte letters are three.
    EXPECT_TRUE(Pattern("^.{3}$").matchesWhole("\xc3\xa9\xc3\xa9\xc3\xa9"));
    Pattern markdown("\\.(md|markdown)$", Pattern::Case::insensitive);
    EXPECT_TRUE(markdown.foundIn("Notes.MD"));
    EXPECT_FALSE(Pattern("\\.(md|markdown)$").foundIn("Notes.MD"));
}

TEST(Pattern, ReplacesEveryMatchLiterally) {
    EXPECT_EQ(Pattern("[/\\\\:]").replaceAll("a/b\\c:d", " "), "a b c d");
    EXPECT_EQ(Pattern("\\s+").replaceAll("a \t\u2028 b", "$1\\"), "a$1\\b");
    EXPECT_EQ(Pattern("^[\\s.]+").replaceAll(" ..x.y", ""), "x.y");
}

TEST(Pattern, ABrokenPatternIsAProgramFault) {
    EXPECT_THROW(Pattern("[a-"), std::logic_error);
}

#include "core/PluginId.hpp"

TEST(PluginId, TwoToFortyLowerCaseLettersDigitsOrHyphensAfterALetter) {
    const std::string forty = "a" + std::string(39, 'b');
    struct Case {
        std::string id;
        bool valid;
    };
    const Case cases[] = {
        {"ab", true},  {forty, true},  {forty + "c", false}, {"a", false},  {"Ab", false},
        {"1a", false}, {"a_b", false}, {"a-9", true},        {"ab\n", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(PluginId::isValid(c.id), c.valid) << c.id;
}
