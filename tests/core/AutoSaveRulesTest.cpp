#include "core/AutoSaveRules.hpp"
#include "tests/support/Refusal.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <map>
#include <ostream>

namespace {

using Rules = std::map<std::string, bool>;

// A store holding exactly `rules`, laid out as the file it loads them from.
AutoSaveRules storeWith(const TempDir& dir, const Rules& rules, std::function<bool()> defaultOn) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, value] : rules) object[key] = value;
    dir.write("autosave.json", object.dump());
    return AutoSaveRules(dir / "autosave.json", std::move(defaultOn));
}

Rules reloaded(const TempDir& dir) { return AutoSaveRules(dir / "autosave.json", nullptr).items(); }

struct StateCase {
    const char* name;
    Rules rules;
    std::string document;
    nlohmann::json file;
    nlohmann::json folder;
    nlohmann::json folderPath;
    std::string docFolder;
    bool effective;
};

void PrintTo(const StateCase& c, std::ostream* out) { *out << c.name; }

class AutoSaveState : public testing::TestWithParam<StateCase> {};

// The default is off here, so that an answer falling through to it cannot
// pass for a rule that says "on".
TEST_P(AutoSaveState, TheNearestRuleWins) {
    const StateCase& c = GetParam();
    TempDir dir;
    AutoSaveRules store = storeWith(dir, c.rules, [] { return false; });
    nlohmann::json expected = {{"file", c.file},           {"folder", c.folder},       {"folderPath", c.folderPath},
                               {"docFolder", c.docFolder}, {"effective", c.effective}, {"default", false}};
    EXPECT_EQ(store.state(c.document), expected);
}

const nlohmann::json none = nullptr;

INSTANTIATE_TEST_SUITE_P(
    AutoSave, AutoSaveState,
    testing::Values(
        StateCase{"NoRulesGiveTheDefault", {{"file:/a/other.md", true}, {"folder:/a/b/c", true}},
                  "/a/b/doc.md", none, none, none, "/a/b", false},
        StateCase{"GrandparentTwoLevelsDown", {{"folder:/a", true}}, "/a/b/c/doc.md", none, true, "/a", "/a/b/c", true},
        StateCase{"RootAppliesToAll", {{"folder:/", true}}, "/a/b/doc.md", none, true, "/", "/a/b", true},
        StateCase{"RootDocument", {{"folder:/", true}}, "/doc.md", none, true, "/", "/", true},
        StateCase{"NearestFolderWins", {{"folder:/a", true}, {"folder:/a/b", false}, {"folder:/", true}},
                  "/a/b/doc.md", none, false, "/a/b", "/a/b", false},
        StateCase{"FileOnBeatsFoldersOff", {{"file:/a/b/doc.md", true}, {"folder:/a/b", false}, {"folder:/", false}},
                  "/a/b/doc.md", true, false, "/a/b", "/a/b", true},
        StateCase{"FileOffBeatsFoldersOn", {{"file:/a/b/doc.md", false}, {"folder:/a/b", true}}, "/a/b/doc.md",
                  false, true, "/a/b", "/a/b", false},
        // A sibling whose name begins like the folder is not inside it.
        StateCase{"NoPrefixMatch", {{"folder:/a/b", true}}, "/a/bc/doc.md", none, none, none, "/a/bc", false},
        // However the path is spelt, it meets the rules; the folder answered is the one given.
        StateCase{"DotsMeetTheRules", {{"file:/a/b/doc.md", true}, {"folder:/a/b", false}},
                  "/a/./x/../b/doc.md", true, false, "/a/b", "/a/./x/../b", true},
        StateCase{"DoubledSlashesMeetTheRules", {{"folder:/a/b", true}}, "//a//b//doc.md", none, true, "/a/b",
                  "//a//b", true},
        StateCase{"DotDotPastTheRoot", {{"folder:/b", true}}, "/../../b/doc.md", none, true, "/b", "/../../b", true}),
    [](const testing::TestParamInfo<StateCase>& info) { return info.param.name; });

TEST(AutoSave, TheDefaultIsAskedAnewEachTime) {
    TempDir dir;
    bool on = true;
    AutoSaveRules store(dir / "autosave.json", [&on] { return on; });
    EXPECT_EQ(store.state("/a/doc.md")["effective"], true);
    on = false;
    nlohmann::json state = store.state("/a/doc.md");
    EXPECT_EQ(state["default"], false);
    EXPECT_EQ(state["effective"], false);
    // A rule is not moved by the default.
    store.set("folder", "/a", true);
    EXPECT_EQ(store.state("/a/doc.md")["effective"], true);
    EXPECT_EQ(store.state("/a/doc.md")["default"], false);

    // No function at all: on.
    AutoSaveRules without(dir / "other.json", nullptr);
    EXPECT_EQ(without.state("/a/doc.md")["default"], true);
}

struct LoadCase {
    const char* name;
    std::string contents;
    Rules expected;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class AutoSaveLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(AutoSaveLoad, KeepsOnlyWhatItWouldHaveWritten) {
    TempDir dir;
    dir.write("autosave.json", GetParam().contents);
    AutoSaveRules store(dir / "autosave.json", [] { return true; });
    EXPECT_EQ(store.items(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AutoSave, AutoSaveLoad,
    testing::Values(
        LoadCase{"Valid", R"({"file:/a/b.md": false, "folder:/": true})",
                 {{"file:/a/b.md", false}, {"folder:/", true}}},
        LoadCase{"OtherScopesDropped",
                 R"({"file:/a.md": true, "dir:/a": true, "file:a.md": true, "folder:": true, "File:/b.md": true,
                     "/c.md": false, "": true})",
                 {{"file:/a.md", true}}},
        LoadCase{"NumericValueEmptiesAll", R"({"file:/a.md": true, "folder:/b": 1})", {}},
        LoadCase{"NullValueEmptiesAll", R"({"file:/a.md": true, "folder:/b": null})", {}},
        LoadCase{"TextValueEmptiesAll", R"({"file:/a.md": "true"})", {}},
        LoadCase{"Truncated", R"({"file:/a.md": true, "folder:/b": fa)", {}},
        LoadCase{"ArrayTopLevel", R"([{"file:/a.md": true}])", {}},
        LoadCase{"NotUTF8", "{\"file:/a\xff.md\": true}", {}}, LoadCase{"Empty", "", {}},
        LoadCase{"Zeros", std::string(64, '\0'), {}}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST(AutoSave, MissingFileGivesNoRulesAndWritesNothing) {
    TempDir dir;
    AutoSaveRules store(dir / "autosave.json", nullptr);
    EXPECT_TRUE(store.items().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "autosave.json"));
}

TEST(AutoSave, EverySetRewritesTheWholeFile) {
    TempDir dir;
    // Damaged: loads as nothing, and the next set replaces it whole.
    dir.write("autosave.json", R"({"file:/old.md": true, "folder:/old": 2})");
    AutoSaveRules store(dir / "autosave.json", nullptr);
    store.set("folder", "/a", true);
    store.set("file", "/a/doc.md", false);
    EXPECT_EQ(reloaded(dir), (Rules{{"file:/a/doc.md", false}, {"folder:/a", true}}));

    store.set("folder", "/a", false);
    store.set("file", "/a/doc.md", std::nullopt);
    store.set("file", "/never-set.md", std::nullopt);
    EXPECT_EQ(reloaded(dir), (Rules{{"folder:/a", false}}));
    EXPECT_EQ(store.items(), reloaded(dir));
}

TEST(AutoSave, SetStoresThePathWithoutDotsSoTheWalkMeetsIt) {
    TempDir dir;
    AutoSaveRules store(dir / "autosave.json", [] { return false; });
    store.set("folder", "/a/./x/..//b/", true);
    store.set("file", "/a/b/../b/doc.md", false);
    EXPECT_EQ(store.items(), (Rules{{"file:/a/b/doc.md", false}, {"folder:/a/b", true}}));
    EXPECT_EQ(store.state("/a/b/c/doc.md")["folderPath"], "/a/b");
    EXPECT_EQ(store.state("/a/b/doc.md")["file"], false);
}

// A key that cannot be written as JSON would make every later save of the
// rules fail, and the rules set since would be lost at the next start.
TEST(AutoSave, APathThatIsNotUTF8NeverStopsLaterSaves) {
    TempDir dir;
    AutoSaveRules store(dir / "autosave.json", nullptr);
    store.set("file", "/a/\xff.md", true);
    store.set("file", "/a/b.md", true);
    EXPECT_EQ(reloaded(dir), (Rules{{"file:/a/b.md", true}}));
}

TEST(AutoSave, RulesAreListedByKeyAndChangedByTheirExactKey) {
    TempDir dir;
    // As hand-edited: a path with a dot part is listed and changed as stored.
    AutoSaveRules store = storeWith(
        dir, {{"folder:/z", true}, {"folder:/a/./b", false}, {"file:/z.md", true}, {"file:/a.md", false}}, nullptr);
    nlohmann::json keys = nlohmann::json::array();
    for (const auto& rule : store.rules()) keys.push_back(rule["key"]);
    EXPECT_EQ(keys, nlohmann::json({"file:/a.md", "file:/z.md", "folder:/a/./b", "folder:/z"}));
    EXPECT_EQ(store.rules()[2], nlohmann::json({{"key", "folder:/a/./b"}, {"kind", "folder"}, {"path", "/a/./b"},
                                                {"value", false}}));

    store.change("folder:/a/./b", true);
    store.change("file:/z.md", std::nullopt);
    EXPECT_EQ(reloaded(dir), (Rules{{"file:/a.md", false}, {"folder:/a/./b", true}, {"folder:/z", true}}));

    for (const std::optional<bool> value : {std::optional<bool>(true), std::optional<bool>()}) {
        for (const std::string key : {"file:/z.md", "folder:/a/b", "", "file:/a.md "}) {
            EXPECT_EQ(refusal([&] { store.change(key, value); }), BridgeError(404, "no such auto-save rule")) << key;
        }
    }
    EXPECT_EQ(store.items().size(), 3u);
}

}  // namespace
