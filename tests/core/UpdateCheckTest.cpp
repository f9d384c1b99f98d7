// The update feed's rules, version comparison, the system minimum and when
// an automatic check is due.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "core/UpdateCheck.hpp"

namespace {

const std::string digest(64, 'a');

nlohmann::json validFeed() {
    return {{"version", "2.0.0"}, {"file", "Quillmarsh-2.0.0.dmg"}, {"sha256", digest}, {"min_macos", "13.5"},
            {"notes", "Faster saves."}};
}

UpdateInfo validInfo() { return {"2.0.0", "Quillmarsh-2.0.0.dmg", digest, "13.5", "Faster saves."}; }

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

struct ParseCase {
    std::string name;
    // Changes the valid feed; a null value removes the member.
    nlohmann::json changes;
    // Changes the expected entry; none: the feed is refused.
    std::optional<std::function<void(UpdateInfo&)>> expect;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

std::optional<std::function<void(UpdateInfo&)>> refused() { return std::nullopt; }
std::function<void(UpdateInfo&)> unchanged() {
    return [](UpdateInfo&) {};
}

class UpdateFeedRules : public ::testing::TestWithParam<ParseCase> {};

TEST_P(UpdateFeedRules, AcceptsOrRefuses) {
    nlohmann::json feed = validFeed();
    for (const auto& [key, value] : GetParam().changes.items()) {
        if (value.is_object() && value.contains("remove")) feed.erase(key);
        else feed[key] = value;
    }
    auto parsed = UpdateCheck::parse(feed.dump());
    if (!GetParam().expect) {
        EXPECT_EQ(parsed, std::nullopt) << feed.dump();
        return;
    }
    UpdateInfo expected = validInfo();
    (*GetParam().expect)(expected);
    ASSERT_TRUE(parsed.has_value()) << feed.dump();
    EXPECT_EQ(*parsed, expected);
}

const nlohmann::json removed = {{"remove", true}};
// 1000 user-perceived characters of two code points each: a count by code
// points or bytes would refuse it.
const std::string thousandAccented = repeated("e\xCC\x81", 1000);

INSTANTIATE_TEST_SUITE_P(
    UpdateCheck, UpdateFeedRules,
    ::testing::Values(
        ParseCase{"Valid", nlohmann::json::object(), unchanged()},
        ParseCase{"OtherMembersIgnored", {{"channel", "beta"}}, unchanged()},
        ParseCase{"VersionOfTwoNumbers", {{"version", "1.2"}}, refused()},
        ParseCase{"VersionWithFiveDigits", {{"version", "01234.1.1"}}, refused()},
        ParseCase{"VersionWithLineBreak", {{"version", "2.0.0\n"}}, refused()},
        ParseCase{"VersionWithSuffix", {{"version", "2.0.0-beta"}}, refused()},
        ParseCase{"VersionNotText", {{"version", 2}}, refused()},
        ParseCase{"VersionMissing", {{"version", removed}}, refused()},
        ParseCase{"FileWithDash", {{"file", "Editor-2.0.0.dmg"}},
                  [](UpdateInfo& i) { i.file = "Editor-2.0.0.dmg"; }},
        ParseCase{"FileWithSpace", {{"file", "Editor 2.dmg"}}, refused()},
        ParseCase{"FileWithSlash", {{"file", "a/Editor.dmg"}}, refused()},
        ParseCase{"FileZip", {{"file", "Editor.zip"}}, refused()},
        ParseCase{"FileOf100", {{"file", std::string(100, 'x') + ".dmg"}},
                  [](UpdateInfo& i) { i.file = std::string(100, 'x') + ".dmg"; }},
        ParseCase{"FileOf101", {{"file", std::string(101, 'x') + ".dmg"}}, refused()},
        ParseCase{"FileWithLineBreak", {{"file", "Editor.dmg\n"}}, refused()},
        ParseCase{"DigestInCapitals", {{"sha256", std::string(64, 'A')}}, refused()},
        ParseCase{"DigestTooShort", {{"sha256", std::string(63, 'a')}}, refused()},
        ParseCase{"DigestMissing", {{"sha256", removed}}, refused()},
        ParseCase{"MinimumMajor", {{"min_macos", "13"}}, [](UpdateInfo& i) { i.minMacOS = "13"; }},
        ParseCase{"MinimumPatch", {{"min_macos", "13.5.1"}}, [](UpdateInfo& i) { i.minMacOS = "13.5.1"; }},
        ParseCase{"MinimumOfFour", {{"min_macos", "13.5.1.2"}}, refused()},
        ParseCase{"MinimumWithLineBreak", {{"min_macos", "13.5\n"}}, refused()},
        ParseCase{"MinimumMissing", {{"min_macos", removed}}, refused()},
        ParseCase{"NotesAbsent", {{"notes", removed}}, [](UpdateInfo& i) { i.notes.reset(); }},
        ParseCase{"NotesBlank", {{"notes", "  \n\t \u3000"}}, [](UpdateInfo& i) { i.notes.reset(); }},
        ParseCase{"NotesEmpty", {{"notes", ""}}, [](UpdateInfo& i) { i.notes.reset(); }},
        ParseCase{"NotesNotTrimmed", {{"notes", " Fixes.\n"}}, [](UpdateInfo& i) { i.notes = " Fixes.\n"; }},
        ParseCase{"NotesOf1000", {{"notes", thousandAccented}}, [](UpdateInfo& i) { i.notes = thousandAccented; }},
        ParseCase{"NotesOf1001", {{"notes", thousandAccented + "e"}}, refused()},
        ParseCase{"NotesNumber", {{"notes", 3}}, refused()},
        ParseCase{"NotesNull", {{"notes", nullptr}}, refused()}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(UpdateCheck, RefusesWhatIsNoFeedObject) {
    for (std::string text : {"", "[]", "\"2.0.0\"", "{\"version\": ", "not json"}) {
        EXPECT_EQ(UpdateCheck::parse(text), std::nullopt) << text;
    }
}

TEST(UpdateCheck, SizeLimitHoldsWhateverTheFeedHolds) {
    std::string feed = validFeed().dump();
    std::string atLimit = feed + std::string(UpdateCheck::maxBytes - feed.size(), ' ');
    ASSERT_EQ(atLimit.size(), 16384u);
    EXPECT_EQ(UpdateCheck::parse(atLimit), validInfo());
    EXPECT_EQ(UpdateCheck::parse(atLimit + " "), std::nullopt);
}

TEST(UpdateCheck, ComparesVersionsByNumber) {
    struct Case {
        const char* a;
        const char* b;
        bool newer;
    };
    for (const Case& c : std::initializer_list<Case>{{"1.10.0", "1.9.9", true},
                                                      {"1.9.9", "1.10.0", false},
                                                      {"1.2.0", "1.2", false},
                                                      {"1.2", "1.2.0", false},
                                                      {"1.2.1", "1.2", true},
                                                      {"2.0.0", "2.0.0", false},
                                                      {"1.4.2-beta", "1.4.1", true},
                                                      {"1..3", "1.2", true},
                                                      {"beta", "0.0.1", false},
                                                      {"0.0.1", "", true},
                                                      // too large for 64 bits: counts as 0
                                                      {"99999999999999999999.0", "0.1", false},
                                                      {"9223372036854775807", "9223372036854775806", true}}) {
        EXPECT_EQ(UpdateCheck::isNewer(c.a, c.b), c.newer) << c.a << " than " << c.b;
    }
}

TEST(UpdateCheck, SystemMinimumComparesThreeNumbers) {
    struct Case {
        const char* min;
        UpdateCheck::SystemVersion running;
        bool fits;
    };
    for (const Case& c : std::initializer_list<Case>{{"13.5", {13, 4, 9}, false},
                                                      {"13.5", {13, 5, 0}, true},
                                                      {"13.5", {14, 0, 0}, true},
                                                      {"13", {12, 99, 99}, false},
                                                      {"13.5.1.9", {13, 5, 1}, true},
                                                      {"13.5.2", {13, 5, 1}, false},
                                                      {"", {0, 0, 0}, true}}) {
        EXPECT_EQ(UpdateCheck::macOSAtLeast(c.min, c.running), c.fits)
            << c.min << " against " << c.running.major << "." << c.running.minor << "." << c.running.patch;
    }
}

TEST(UpdateCheck, AutomaticCheckIsDueOncePerDay) {
    using UpdateCheck::Seconds;
    const Seconds now(1.8e9 + 0.25);
    const Seconds hour(3600);
    EXPECT_TRUE(UpdateCheck::dueOnOpen(std::nullopt, now));
    EXPECT_FALSE(UpdateCheck::dueOnOpen(now - 23 * hour, now));
    EXPECT_TRUE(UpdateCheck::dueOnOpen(now - 24 * hour, now));
    EXPECT_FALSE(UpdateCheck::dueOnOpen(now, now));
    EXPECT_TRUE(UpdateCheck::dueOnOpen(now + hour, now));
}

TEST(UpdateCheck, Constants) {
    EXPECT_EQ(UpdateCheck::maxBytes, 16384u);
    EXPECT_EQ(UpdateCheck::timeout, std::chrono::seconds(5));
    EXPECT_EQ(UpdateCheck::interval, std::chrono::seconds(86400));
    for (auto [address, path] : {std::pair{UpdateCheck::feed, std::string_view("/quill-marsh/version.json")},
                                 std::pair{UpdateCheck::page, std::string_view("/quillmarsh")}}) {
        std::string_view rest = address;
        ASSERT_TRUE(rest.starts_with("https://")) << address;
        rest.remove_prefix(8);
        auto slash = rest.find('/');
        ASSERT_NE(slash, std::string_view::npos) << address;
        EXPECT_TRUE(rest.substr(0, slash).ends_with(".example")) << address;
        EXPECT_EQ(rest.substr(slash), path);
    }
}

}  // namespace
