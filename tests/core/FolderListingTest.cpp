// Folder listing: which documents a folder lists, in which order, and where it
// stops, each on a small fixture.
#include "core/FolderListing.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

namespace fs = std::filesystem;

namespace {

struct ListCase {
    std::string name;
    // Files to make (folders end in "/"); "link -> target" makes a symbolic link.
    std::vector<std::string> fixture;
    std::vector<std::string> expected;
    bool truncated = false;
    std::size_t max = 5000;
};

void PrintTo(const ListCase& c, std::ostream* out) { *out << c.name; }

void make(const TempDir& dir, const std::string& item) {
    auto arrow = item.find(" -> ");
    if (arrow != std::string::npos) {
        std::string at = dir / ("docs/" + item.substr(0, arrow));
        fs::create_directories(fs::path(at).parent_path());
        fs::create_symlink(item.substr(arrow + 4), at);
    } else if (item.back() == '/') {
        fs::create_directories(dir / ("docs/" + item));
    } else {
        dir.write("docs/" + item, "x");
    }
}

class ListTable : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListTable, ListsWhatThePageMayOpen) {
    const ListCase& c = GetParam();
    TempDir dir;
    fs::create_directories(dir / "docs");
    dir.write("outside.md", "x");
    for (const auto& item : c.fixture) make(dir, item);
    Files::Listing listing = Files::list(dir / "docs", c.max);
    EXPECT_EQ(listing.paths, c.expected);
    EXPECT_EQ(listing.truncated, c.truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ListTable,
    ::testing::Values(
        ListCase{"SortedByCodePointCaseMatters", {"a.md", "B.md", "sub/c.markdown", "Z.MD"},
                 {"B.md", "Z.MD", "a.md", "sub/c.markdown"}},
        ListCase{"NothingHiddenHeavyOrOutside",
                 {"keep.md", "a.txt", ".hidden.md", "node_modules/x.md", "sub/node_modules/y.md", ".venv/x.md",
                  ".VENV/z.md", ".cache/x.md", ".git/x.md", ".ssh/x.md", "out.md -> ../outside.md", "lib.md.txt"},
                 {"keep.md"}},
        ListCase{"OnlyTheExactNodeModulesNameIsPruned", {"Node_Modules/x.md"}, {"Node_Modules/x.md"}},
        ListCase{"HiddenFoldersFillTheRoomAfterTheOthers", {"z.md", ".github/notes.md", ".obsidian/x.md"},
                 {".github/notes.md", ".obsidian/x.md", "z.md"}},
        ListCase{"AFolderNamedLikeADocumentIsListedAndWalked", {"archive.md/inside.md"},
                 {"archive.md", "archive.md/inside.md"}},
        ListCase{"LinksInsideFollowTheRules",
                 {"notes.txt", "n.md -> notes.txt", ".ssh/", ".ssh/id", "k.md -> .ssh/id", "real/a.md",
                  "linked -> real", "d.md -> real"},
                 // A link to a folder is not walked, but listed when its name is a document's.
                 {"d.md", "n.md", "real/a.md"}},
        ListCase{"SecretPlacesBelowHiddenFolders",
                 {".config/gcloud/x.md", ".config/other/x.md", ".config/\xC3\xA9.md", ".\xD1\x95sh/x.md",
                  ".notes/.git/x.md"},
                 {".config/other/x.md"}},
        ListCase{"NamesThePageCannotAskFor", {"a\\b.md", "c\\d/e.md", "ok.md"}, {"ok.md"}},
        ListCase{"CanonicalCompositionDecidesTheOrder", {"e\xCC\x81.md", "f.md", "z.md"},
                 // The decomposed e-acute sorts as the composed one (U+00E9), after "z".
                 {"f.md", "z.md", "e\xCC\x81.md"}},
        ListCase{"NamesThatAreNotUTF8ArePassedOver", {"bad\xFF.md", "dir\xC0\xAF/a.md", "good.md"}, {"good.md"}},
        ListCase{"MoreThanTheMaximumKeepsTheFirstInOrder", {"d.md", "b.md", "a.md", "c.md"}, {"a.md", "b.md", "c.md"},
                 true, 3},
        ListCase{"HiddenDocumentsOnlyFillTheRoomLeft", {"b.md", "a.md", ".n/z.md", ".n/y.md", ".n/x.md"},
                 {".n/x.md", "a.md", "b.md"}, true, 3}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return info.param.name; });

TEST(FilesList, FolderGivenThroughALinkListsTheSame) {
    TempDir dir;
    dir.write("real/a.md", "x");
    fs::create_symlink(dir / "real", dir / "alias");
    EXPECT_EQ(Files::list(dir / "alias", 10).paths, std::vector<std::string>{"a.md"});
}

TEST(FilesList, MissingOrUnreadableFolderListsEmpty) {
    TempDir dir;
    dir.write("file.md", "x");
    for (auto folder : {dir / "nothing", dir / "file.md"}) {
        Files::Listing listing = Files::list(folder, 10);
        EXPECT_TRUE(listing.paths.empty());
        EXPECT_FALSE(listing.truncated);
    }
}

TEST(FilesList, HiddenFolderBudgetStopsVisitsAndFolders) {
    // Each hidden subfolder costs two visits (itself and its document): with
    // five visits, ".h" and the first two folders fit, the rest are skipped
    // without being entered, whatever order the disk gives them in.
    TempDir dir;
    for (int i = 0; i < 10; ++i) dir.write("docs/.h/f" + std::to_string(i) + "/x.md", "x");
    dir.write("docs/top/plain.md", "x");
    Files::testSeams().dotWalkMax = 5;
    Files::Listing listing = Files::list(dir / "docs", 5000);
    Files::testSeams() = {};

    ASSERT_EQ(listing.paths.size(), 3u);
    EXPECT_TRUE(listing.truncated);
    EXPECT_EQ(listing.paths.back(), "top/plain.md");  // outside hidden folders: no budget
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(listing.paths[i].starts_with(".h/f")) << listing.paths[i];
}

TEST(FilesList, DeepTreesAreWalkedToTheBottom) {
    // Deeper than the folders it keeps open: the rest are opened by full path.
    TempDir dir;
    std::string rel;
    for (int i = 0; i < 60; ++i) rel += "d/";
    dir.write("docs/" + rel + "deep.md", "x");
    EXPECT_EQ(Files::list(dir / "docs", 10).paths, std::vector<std::string>{rel + "deep.md"});
}

}  // namespace
