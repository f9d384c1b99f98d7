// The media types the copied-text server takes over, and the character set
// each one is sent in.
#include "app/shell/PlainTextTypes.hpp"

#include <gtest/gtest.h>

namespace {

struct TypeCase {
    const char* name;
    const char* mimeType;
    const char* set;  // nullptr: not plain text made from a string
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

const TypeCase cases[] = {
    {"Utf8", "text/plain;charset=utf-8", "utf-8"},
    {"BareIsAscii", "text/plain", "ASCII"},
    {"OtherSet", "text/plain;charset=ISO-8859-15", "ISO-8859-15"},
    {"CaseSpacesAndQuotes", "Text/Plain; Charset = \"UTF-8\"", "UTF-8"},
    {"EmptySet", "text/plain;charset=", nullptr},
    {"OtherParameter", "text/plain;format=flowed", nullptr},
    {"SecondParameter", "text/plain;charset=utf-8;format=flowed", nullptr},
    {"LongerSubtype", "text/plainer", nullptr},
    {"Html", "text/html", nullptr},
    {"X11Target", "UTF8_STRING", nullptr},
    {"Empty", "", nullptr},
};

class PlainTextTypesCase : public testing::TestWithParam<TypeCase> {};

TEST_P(PlainTextTypesCase, NamesTheSetOfPlainTextOnly) {
    const auto set = PlainTextTypes::characterSet(GetParam().mimeType);
    if (GetParam().set) {
        ASSERT_TRUE(set.has_value());
        EXPECT_EQ(*set, GetParam().set);
    } else {
        EXPECT_FALSE(set.has_value()) << *set;
    }
}

INSTANTIATE_TEST_SUITE_P(PlainTextTypes, PlainTextTypesCase, testing::ValuesIn(cases));

TEST(PlainTextTypes, KnowsUtf8ByEitherSpelling) {
    EXPECT_TRUE(PlainTextTypes::isUtf8("utf-8"));
    EXPECT_TRUE(PlainTextTypes::isUtf8("UTF8"));
    EXPECT_FALSE(PlainTextTypes::isUtf8("ASCII"));
    EXPECT_FALSE(PlainTextTypes::isUtf8("utf-16"));
}

}  // namespace
