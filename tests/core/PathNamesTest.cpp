#include "core/PathNames.hpp"

#include <gtest/gtest.h>

namespace {

TEST(PathNames, LastComponentIsTheLastNonEmptyPart) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b", "b"},     {"/a/b/", "b"}, {"/a//b", "b"},  {"/a/b//", "b"}, {"//a", "a"},
        {"b", "b"},        {"a/b", "b"},   {"/", ""},       {"//", ""},      {"", ""},
        {"/a/b.md", "b.md"}, {"/a/ b ", " b "},
    };
    for (auto [path, name] : cases) EXPECT_EQ(PathNames::lastComponent(path), name) << '"' << path << '"';
}

}  // namespace
