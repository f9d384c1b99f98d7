// The remembered plugin folders: what a damaged or foreign file gives, and
// what set and forget write.
#include "core/PluginFolderStore.hpp"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;

using Entries = std::map<std::string, PluginFolderStore::Entry>;

void PrintTo(const PluginFolderStore::Entry& entry, std::ostream* out) {
    *out << entry.path << (entry.bookmark ? " bookmark \"" + *entry.bookmark + "\"" : "");
}

namespace {

struct LoadCase {
    const char* name;
    std::string contents;
    Entries expected;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class PluginFolderStoreLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(PluginFolderStoreLoad, KeepsOnlyWhatPassesItsRule) {
    TempDir dir;
    dir.write("plugin-folders.json", GetParam().contents);
    EXPECT_EQ(PluginFolderStore(dir / "plugin-folders.json").entries(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PluginFolderStoreLoad,
    testing::Values(
        LoadCase{"NotJSON", "{\"my-plugin\": ", {}},
        LoadCase{"AnArray", R"([{"path": "/a"}])", {}},
        LoadCase{"AValueNotAnObject", R"({"my-plugin": {"path": "/a"}, "other": "/b"})", {}},
        LoadCase{"AMemberNotText", R"({"my-plugin": {"path": "/a"}, "other": {"path": "/b", "bookmark": null}})", {}},
        LoadCase{"Whole",
                 R"({"my-plugin": {"path": "/a", "bookmark": "QUJD"}, "other": {"path": "/b", "bookmark": ""}})",
                 {{"my-plugin", {"/a", "QUJD"}}, {"other", {"/b", ""}}}},
        LoadCase{"BadIdsAndPathsAreDropped",
                 R"({"X": {"path": "/a"}, "a": {"path": "/a"}, "rel": {"path": "a/b"}, "nul": {"path": "/a\u0000b"},
                     "nopath": {"bookmark": ""}, "ok-1": {"path": "/c"}})",
                 {{"ok-1", {"/c", std::nullopt}}}},
        LoadCase{"ABookmarkThatDoesNotDecodeIsNone", R"({"my-plugin": {"path": "/a", "bookmark": "no base64!"}})",
                 {{"my-plugin", {"/a", std::nullopt}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginFolderStore, SetAndForgetWriteTheWholeStore) {
    TempDir dir;
    const std::string path = dir / "support/plugin-folders.json";
    {
        PluginFolderStore store(path);
        store.forget("my-plugin");
        EXPECT_FALSE(fs::exists(path));  // nothing was forgotten, nothing written
        store.set("my-plugin", "/home/u/one", std::nullopt);
        store.set("other", "/home/u/two", "QUJD");
        store.set("my-plugin", "/home/u/three", std::nullopt);
    }
    EXPECT_EQ(nlohmann::json::parse(TempDir::read(path)), nlohmann::json::parse(R"({
        "my-plugin": {"path": "/home/u/three", "bookmark": ""},
        "other": {"path": "/home/u/two", "bookmark": "QUJD"}})"));
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600);

    PluginFolderStore again(path);
    EXPECT_EQ(again.entries(), (Entries{{"my-plugin", {"/home/u/three", ""}}, {"other", {"/home/u/two", "QUJD"}}}));
    again.forget("other");
    EXPECT_EQ(PluginFolderStore(path).entries(), (Entries{{"my-plugin", {"/home/u/three", ""}}}));
}

}  // namespace
