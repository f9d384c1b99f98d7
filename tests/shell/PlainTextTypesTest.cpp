// The media types the copied-text server takes over, and the character set
// each one is sent in.
#include "app/shell/PlainTextTypes.hpp"

#include <gtest/gtest.h>

namespace {

struct TypeCase {
    const char* mimeType;
    const char* set;  // nullptr: not plain text made from a string
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.mimeType; }

const TypeCase cases[] = {
    {"text/plain;charset=utf-8", "utf-8"},
    {"text/plain", "ASCII"},
    {"text/plain;charset=ISO-8859-15", "ISO-8859-15"},
    {"Text/Plain; Charset = \"UTF-8\"", "UTF-8"},
    {"text/plain;charset=", nullptr},
    {"text/plain;format=flowed", nullptr},
    {"text/plain;charset=utf-8;format=flowed", nullptr},
    {"text/plainer", nullptr},
    {"text/html", nullptr},
    {"UTF8_STRING", nullptr},
    {"", nullptr},
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
