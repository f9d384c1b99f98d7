// The page's key texts: what parses, what is left without a key, and what
// each becomes on this desktop.
#include "app/shell/KeyEquivalent.hpp"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    const char* name;
    const char* text;
    bool parses;
    const char* key;
    unsigned modifiers;
    const char* accelerator;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

constexpr unsigned cmd = KeyEquivalent::command, ctrl = KeyEquivalent::control, opt = KeyEquivalent::option,
                   shift = KeyEquivalent::shift;

const KeyCase cases[] = {
    {"CmdShiftZ", "Cmd+Shift+Z", true, "z", cmd | shift, "<Control><Shift>"},
    {"CtrlTabIsSuperTab", "Ctrl+Tab", true, "\t", ctrl, "<Super>"},
    {"LoneKeyHasNoModifier", "F", true, "f", 0, ""},
    {"OptionIsAlt", "Option+1", true, "1", opt, "<Alt>"},
    {"AllFour", "Shift+Option+Ctrl+Cmd+K", true, "k", cmd | ctrl | opt | shift, "<Control><Super><Alt><Shift>"},
    {"EmptyPiecesDropped", "Cmd++,", true, ",", cmd, "<Control>"},
    {"AccentedKeyLowerCased", "Cmd+\u00c9", true, "\u00e9", cmd, "<Control>"},
    {"CombiningSequenceIsOneCharacter", "Cmd+e\u0301", true, "e\u0301", cmd, "<Control>"},
    {"UnknownModifier", "Cmd+Alt+K", false, "", 0, ""},
    {"ModifierNamesAreExact", "cmd+K", false, "", 0, ""},
    {"LongKey", "Cmd+PageUp", false, "", 0, ""},
    {"OnlyAModifier", "Cmd++", false, "", 0, ""},
    {"Empty", "", false, "", 0, ""},
    {"OnlyPluses", "+++", false, "", 0, ""},
    {"TabIsCaseSensitive", "Cmd+tab", false, "", 0, ""},
};

class KeyEquivalentParse : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyEquivalentParse, Grammar) {
    const KeyCase& c = GetParam();
    auto parsed = KeyEquivalent::parse(c.text);
    ASSERT_EQ(parsed.has_value(), c.parses);
    if (!parsed) return;
    EXPECT_EQ(parsed->key, c.key);
    EXPECT_EQ(parsed->modifiers, c.modifiers);
    EXPECT_EQ(parsed->acceleratorModifiers(), c.accelerator);
}

INSTANTIATE_TEST_SUITE_P(Texts, KeyEquivalentParse, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
