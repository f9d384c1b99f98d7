#include "core/Settings.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/TempDir.hpp"

namespace {

using json = nlohmann::json;

const std::string e = "\xC3\xA9";  // "é": one character, two bytes

// A plugins object whose compact JSON is exactly `bytes` long, made of
// options that each pass their own rules.
json pluginsOfSize(std::size_t bytes) {
    json plugins = {{"templates", json::object()}};
    for (int i = 100;; ++i) {
        json& option = plugins["templates"]["o" + std::to_string(i)] = "";
        std::size_t room = bytes - plugins.dump().size();
        if (room <= 200) {
            option = std::string(room, 'x');
            return plugins;
        }
        // Leave enough room for the next option's name.
        option = std::string(room - 200 < 20 ? room - 20 : 200, 'x');
    }
}

json manyPlugins(std::size_t count) {
    json plugins = json::object();
    for (std::size_t i = 0; i < count; ++i) plugins["p" + std::to_string(100 + i)] = {{"on", true}};
    return plugins;
}

json manyIds(std::size_t count) {
    json ids = json::array();
    for (std::size_t i = 0; i < count; ++i) ids.push_back("p" + std::to_string(100 + i));
    return ids;
}

struct Proposal {
    const char* name;
    json change;  // one key
    bool taken;
};

void PrintTo(const Proposal& p, std::ostream* out) { *out << p.name; }

class SettingsRule : public ::testing::TestWithParam<Proposal> {};

TEST_P(SettingsRule, TakesOnlyWhatPassesItsKeysRule) {
    TempDir dir;
    Settings settings(dir / "settings.json", "1.4.0");
    const json& change = GetParam().change;
    const std::string key = change.begin().key();
    const json& value = change.begin().value();
    json after = settings.update(GetParam().change);
    ASSERT_EQ(after.size(), 18u);
    if (GetParam().taken) {
        // A number is kept as a floating-point number, whatever the page wrote.
        EXPECT_EQ(after[key], value);
    } else {
        EXPECT_EQ(after[key], Settings::defaults()[key]) << after[key];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsRule,
    ::testing::Values(
        Proposal{"ThemeChoice", {{"theme", "dark"}}, true},
        Proposal{"ChoicesAreCaseSensitive", {{"theme", "Dark"}}, false},
        Proposal{"ChoiceNotAString", {{"width", 2}}, false},
        Proposal{"FlagBoolean", {{"showMarkdown", true}}, true},
        Proposal{"FlagAsText", {{"showMarkdown", "true"}}, false},
        Proposal{"FlagAsOne", {{"lineNumbers", 1}}, false},
        Proposal{"DelayThree", {{"autosaveDelay", 3}}, true},
        Proposal{"DelayTen", {{"autosaveDelay", 10.0}}, true},
        Proposal{"DelayTwo", {{"autosaveDelay", 2}}, false},
        Proposal{"DelayAsBoolean", {{"autosaveDelay", true}}, false},
        Proposal{"SeenThisVersion", {{"seenVersion", "1.4.0"}}, true},
        Proposal{"SeenOtherVersion", {{"seenVersion", "1.3.0"}}, false},
        Proposal{"SkipThreeGroups", {{"updateSkip", "1.2.3"}}, true},
        Proposal{"SkipFourDigitGroups", {{"updateSkip", "2026.12.1000"}}, true},
        Proposal{"SkipTwoGroups", {{"updateSkip", "1.2"}}, false},
        Proposal{"SkipFiveDigits", {{"updateSkip", "1.2.12345"}}, false},
        Proposal{"SkipLineBreakAfter", {{"updateSkip", "1.2.3\n"}}, false},
        Proposal{"SkipArabicIndicDigits", {{"updateSkip", "\xD9\xA1.2.3"}}, false},
        Proposal{"FolderWithSpace", {{"assetsFolder", "my pictures"}}, true},
        Proposal{"FolderSixtyFour", {{"assetsFolder", std::string(64, 'a')}}, true},
        Proposal{"FolderSixtyFive", {{"assetsFolder", std::string(65, 'a')}}, false},
        Proposal{"FolderLeadingDot", {{"assetsFolder", ".pictures"}}, false},
        Proposal{"FolderSlash", {{"assetsFolder", "a/b"}}, false},
        Proposal{"FolderTwoDots", {{"assetsFolder", "a..b"}}, false},
        Proposal{"FolderLineBreakAfter", {{"assetsFolder", "assets\n"}}, false},
        Proposal{"FolderAccented", {{"assetsFolder", "images" + e}}, false},
        Proposal{"PluginsOffValid", {{"pluginsOff", {"templates", "word-count"}}}, true},
        Proposal{"PluginsOffCapital", {{"pluginsOff", {"templates", "Word"}}}, false},
        Proposal{"PluginsOffFifty", {{"pluginsOff", manyIds(50)}}, true},
        Proposal{"PluginsOffFiftyOne", {{"pluginsOff", manyIds(51)}}, false},
        Proposal{"PluginsOptions", {{"plugins", {{"templates", {{"count", 3}, {"label", "short"}, {"on", false}}}}}}, true},
        Proposal{"PluginsNullOption", {{"plugins", {{"templates", {{"x", nullptr}}}}}}, false},
        Proposal{"PluginsArrayOption", {{"plugins", {{"templates", {{"x", json::array()}}}}}}, false},
        Proposal{"PluginsNestedOption", {{"plugins", {{"templates", {{"x", json::object()}}}}}}, false},
        Proposal{"PluginsOptionKeyDigitFirst", {{"plugins", {{"templates", {{"1x", 1}}}}}}, false},
        Proposal{"PluginsNotAnObject", {{"plugins", {{"templates", true}}}}, false},
        Proposal{"PluginsBadId", {{"plugins", {{"Templates", json::object()}}}}, false},
        Proposal{"PluginsText200Characters", {{"plugins", {{"templates", {{"x", [] {
                     std::string text;
                     for (int i = 0; i < 200; ++i) text += e;
                     return text;
                 }()}}}}}}, true},
        Proposal{"PluginsText201Characters", {{"plugins", {{"templates", {{"x", std::string(201, 'a')}}}}}}, false},
        Proposal{"PluginsFifty", {{"plugins", manyPlugins(50)}}, true},
        Proposal{"PluginsFiftyOne", {{"plugins", manyPlugins(51)}}, false},
        Proposal{"Plugins8192Bytes", {{"plugins", pluginsOfSize(8192)}}, true},
        Proposal{"Plugins8193Bytes", {{"plugins", pluginsOfSize(8193)}}, false}),
    [](const ::testing::TestParamInfo<Proposal>& info) { return info.param.name; });

TEST(Settings, AFreshStartHoldsTheDefaultsAndWritesNothing) {
    TempDir dir;
    Settings settings(dir / "support/settings.json", "");
    EXPECT_EQ(settings.values(), Settings::defaults());
    EXPECT_EQ(settings.values().size(), 18u);
    EXPECT_EQ(settings.values()["autosaveDelay"], 1.5);
    EXPECT_FALSE(std::filesystem::exists(dir / "support"));
    // Without a version only the empty text can be seen.
    EXPECT_EQ(settings.update({{"seenVersion", ""}})["seenVersion"], "");
    EXPECT_EQ(settings.update({{"seenVersion", "x"}})["seenVersion"], "");
}

TEST(Settings, EveryUpdateWritesTheWholeSetPrivately) {
    TempDir dir;
    std::string path = dir / "support/settings.json";
    {
        Settings settings(path, "1.0.0");
        settings.update({{"theme", "dark"}, {"stranger", 1}, {"autosaveDelay", 5}});
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    json onDisk = json::parse(TempDir::read(path));
    EXPECT_EQ(onDisk.size(), 18u);
    EXPECT_FALSE(onDisk.contains("stranger"));
    EXPECT_EQ(onDisk["theme"], "dark");
    Settings again(path, "1.0.0");
    EXPECT_EQ(again.values(), onDisk);
    EXPECT_TRUE(again.values()["autosaveDelay"].is_number_float());
}

TEST(Settings, ADamagedFileGivesTheDefaultsAndIsReplacedWholeAtTheNextSave) {
    struct Damage {
        const char* name;
        std::string contents;
        json expectedChanges;
    };
    const Damage damages[] = {
        {"truncated", R"({"theme": "dark", "width": "wi)", json::object()},
        {"array", R"(["theme", "dark"])", json::object()},
        {"not UTF-8", "{\"theme\": \"dark\xff\"}", json::object()},
        {"wrong types", R"({"theme": 3, "width": "wide", "plugins": [], "pluginsOff": "x", "autosaveDelay": "3"})",
         {{"width", "wide"}}},
        {"huge", "{\"width\": \"full\", \"padding\": \"" + std::string(8 << 20, ' ') + "\"}", {{"width", "full"}}},
        {"empty", "", json::object()},
    };
    for (const auto& damage : damages) {
        TempDir dir;
        std::string path = dir.write("settings.json", damage.contents);
        Settings settings(path, "1.0.0");
        json expected = Settings::defaults();
        expected.update(damage.expectedChanges);
        EXPECT_EQ(settings.values(), expected) << damage.name;
        settings.update(json::object());
        EXPECT_EQ(json::parse(TempDir::read(path)), expected) << damage.name;
    }
}

}  // namespace
