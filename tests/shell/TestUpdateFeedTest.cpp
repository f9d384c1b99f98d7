#include "app/shell/TestUpdateFeed.hpp"

#include <gtest/gtest.h>

#include <map>

namespace {

TestUpdateFeed::Lookup environment(std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
        auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

}  // namespace

TEST(TestUpdateFeed, OnlyTheTestBuildTakesALocalFeed) {
    const UpdateFetcher::Options shipped;
    const auto both = environment({{TestUpdateFeed::feedVariable, "https://127.0.0.1:4443/version.json"},
                                   {TestUpdateFeed::authorityVariable, "/tmp/ca.pem"}});
    struct Case {
        const char* name;
        bool automation;
        TestUpdateFeed::Lookup lookup;
        std::string feed;
        std::string caFile;
    };
    const Case cases[] = {
        {"program users run", false, both, shipped.feed, ""},
        {"test build", true, both, "https://127.0.0.1:4443/version.json", "/tmp/ca.pem"},
        {"test build without a feed", true, environment({{TestUpdateFeed::authorityVariable, "/tmp/ca.pem"}}),
         shipped.feed, ""},
        {"test build with an empty feed", true, environment({{TestUpdateFeed::feedVariable, ""}}), shipped.feed, ""},
    };
    for (const Case& c : cases) {
        auto options = TestUpdateFeed::apply(shipped, c.automation, c.lookup);
        EXPECT_EQ(options.feed, c.feed) << c.name;
        EXPECT_EQ(options.caFile, c.caFile) << c.name;
        EXPECT_EQ(options.timeout, shipped.timeout) << c.name;
    }
}
