#include "core/RandomText.hpp"
#include "core/TemporaryNames.hpp"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(RandomText, RandomUUIDIsAVersion4UUIDInUpperCaseAndNeverRepeats) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        std::string uuid = randomUUID();
        ASSERT_EQ(uuid.size(), 36u) << uuid;
        EXPECT_EQ(uuid[14], '4') << uuid;
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
        EXPECT_EQ(uuid.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST(TemporaryNames, OnlyNamesOurMakerGivesAreOurs) {
    std::string made = TemporaryNames::make();
    EXPECT_TRUE(TemporaryNames::isOurTemporaryName(made)) << made;
    EXPECT_EQ(made.substr(0, 12), ".quillmarsh-");

    const std::string uuid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    EXPECT_TRUE(TemporaryNames::isOurTemporaryName(".quillmarsh-" + uuid + ".tmp"));
    const std::string lookAlikes[] = {
        ".quillmarsh-.tmp",                              // no random part
        ".quillmarsh-1234.tmp",                          // not a UUID
        ".quillmarsh-" + uuid + ".tmp.md",               // more after the suffix
        "x.quillmarsh-" + uuid + ".tmp",                 // more before the prefix
        ".other-" + uuid + ".tmp",                       // another program's prefix
        ".quillmarsh-" + uuid,                           // no suffix
        ".quillmarsh-0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9.tmp",  // lower case: not what we write
        ".quillmarsh-0F1E2D3C-4B5A-1978-8695-A4B3C2D1E0F9.tmp",  // version 1
        ".quillmarsh-0F1E2D3C-4B5A-4978-C695-A4B3C2D1E0F9.tmp",  // another variant
        ".quillmarsh-0F1E2D3C+4B5A-4978-8695-A4B3C2D1E0F9.tmp",  // not a dash
        "/folder/.quillmarsh-" + uuid + ".tmp",          // a path, not a name
    };
    for (const auto& name : lookAlikes) EXPECT_FALSE(TemporaryNames::isOurTemporaryName(name)) << name;
}

}  // namespace
