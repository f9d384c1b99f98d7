#include "core/Recent.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using Item = Recent::Item;

}  // namespace

void PrintTo(const Recent::Item& item, std::ostream* out) {
    *out << item.kind << ":" << item.path << (item.bookmark ? " bookmark " + *item.bookmark : "");
}

namespace {

std::vector<std::string> pathsOf(const Recent& recent) {
    std::vector<std::string> paths;
    for (const auto& item : recent.items()) paths.push_back(item.kind + ":" + item.path);
    return paths;
}

nlohmann::json fileItem(const std::string& kind, const std::string& path, const std::string& bookmark = "") {
    return {{"kind", kind}, {"path", path}, {"bookmark", bookmark}};
}

struct LoadCase {
    const char* name;
    std::string contents;
    std::vector<Item> expected;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class RecentLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(RecentLoad, KeepsOnlyValidEntries) {
    TempDir dir;
    dir.write("recent.json", GetParam().contents);
    Recent recent(dir / "recent.json");
    EXPECT_EQ(recent.items(), GetParam().expected);
}

nlohmann::json elevenValid() {
    auto list = nlohmann::json::array();
    for (int i = 0; i < 11; ++i) list.push_back(fileItem("file", "/d/" + std::to_string(i) + ".md"));
    return list;
}

std::vector<Item> firstTen() {
    std::vector<Item> items;
    for (int i = 0; i < 10; ++i) items.push_back({"file", "/d/" + std::to_string(i) + ".md", ""});
    return items;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecentLoad,
    testing::Values(
        LoadCase{"notJSON", "[{", {}},
        LoadCase{"object", R"({"kind": "file", "path": "/a.md"})", {}},
        LoadCase{"oneNonObjectEmptiesAll", R"([{"kind": "file", "path": "/a.md"}, 3])", {}},
        LoadCase{"elevenLoadTen", elevenValid().dump(), firstTen()},
        LoadCase{"invalidEntriesSkipped",
                 nlohmann::json::array({fileItem("file", "rel.md"), fileItem("document", "/a.md"),
                                        {{"path", "/nokind.md"}}, {{"kind", "file"}, {"path", 5}},
                                        fileItem("folder", "/f"), fileItem("file", "/b.md")})
                     .dump(),
                 {{"folder", "/f", ""}, {"file", "/b.md", ""}}},
        LoadCase{"bookmarks",
                 nlohmann::json::array({fileItem("file", "/a.md", "AAEC"), fileItem("file", "/b.md", "not base64!"),
                                        {{"kind", "file"}, {"path", "/c.md"}, {"bookmark", 7}},
                                        fileItem("file", "/d.md", "")})
                     .dump(),
                 {{"file", "/a.md", "AAEC"}, {"file", "/b.md", std::nullopt}, {"file", "/c.md", std::nullopt},
                  {"file", "/d.md", ""}}},
        LoadCase{"duplicatesStayUntilAdded",
                 nlohmann::json::array({fileItem("file", "/a.md"), fileItem("file", "/a.md")}).dump(),
                 {{"file", "/a.md", ""}, {"file", "/a.md", ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Recent, MissingFileGivesAnEmptyList) {
    TempDir dir;
    EXPECT_TRUE(Recent(dir / "recent.json").items().empty());
}

TEST(Recent, AddPutsFirstRemovesSameKindAndPathAndKeepsTen) {
    TempDir dir;
    Recent recent(dir / "recent.json");
    for (int i = 1; i <= 5; ++i) recent.add("file", "/d/" + std::to_string(i) + ".md");
    // 5 4 3 2 1: the fifth entry moves to the front, the others keep their order.
    recent.add("file", "/d/1.md");
    EXPECT_EQ(pathsOf(recent), (std::vector<std::string>{"file:/d/1.md", "file:/d/5.md", "file:/d/4.md",
                                                          "file:/d/3.md", "file:/d/2.md"}));
    // Adding what is already first does not duplicate it.
    recent.add("file", "/d/1.md");
    EXPECT_EQ(recent.items().size(), 5u);
    // The same path as a folder is another entry.
    recent.add("folder", "/d/1.md");
    EXPECT_EQ(pathsOf(recent)[0], "folder:/d/1.md");
    EXPECT_EQ(pathsOf(recent)[1], "file:/d/1.md");

    for (int i = 6; i <= 11; ++i) recent.add("file", "/d/" + std::to_string(i) + ".md");
    ASSERT_EQ(recent.items().size(), Recent::max);
    EXPECT_EQ(recent.items().front().path, "/d/11.md");
    EXPECT_EQ(recent.items().back().path, "/d/4.md");  // the oldest ones dropped

    // What is written is what a later launch reads (an absent bookmark is
    // written as the empty text).
    EXPECT_EQ(pathsOf(Recent(dir / "recent.json")), pathsOf(recent));
}

TEST(Recent, AddMergesDuplicatesReadFromAHandEditedFile) {
    TempDir dir;
    dir.write("recent.json",
              nlohmann::json::array({fileItem("file", "/a.md"), fileItem("file", "/b.md"), fileItem("file", "/a.md")})
                  .dump());
    Recent recent(dir / "recent.json");
    recent.add("file", "/a.md", "AAEC");
    EXPECT_EQ(recent.items(), (std::vector<Item>{{"file", "/a.md", "AAEC"}, {"file", "/b.md", ""}}));
}

TEST(Recent, FileFormatIsAPrivateArrayOfObjects) {
    TempDir dir;
    Recent recent(dir / "support/recent.json");
    recent.add("folder", "/docs");
    recent.add("file", "/a.md", "AAEC");

    auto written = nlohmann::json::parse(TempDir::read(dir / "support/recent.json"));
    EXPECT_EQ(written, nlohmann::json::array({fileItem("file", "/a.md", "AAEC"), fileItem("folder", "/docs", "")}));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "support/recent.json").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// Such a path could neither be written to the file nor listed for the page:
// one would stop every later save of the list.
TEST(Recent, AddLeavesOutAPathThatIsNotUTF8) {
    TempDir dir;
    Recent recent(dir / "recent.json");
    recent.add("file", "/a.md");
    recent.add("file", "/caf\xE9.md");
    recent.add("folder", "/d\xE9j\xE0");
    EXPECT_EQ(pathsOf(recent), std::vector<std::string>{"file:/a.md"});
    EXPECT_NO_THROW(recent.listing().dump());
    recent.add("file", "/b.md");
    EXPECT_EQ(pathsOf(Recent(dir / "recent.json")), (std::vector<std::string>{"file:/b.md", "file:/a.md"}));
}

TEST(Recent, RemoveAndClear) {
    TempDir dir;
    Recent recent(dir / "recent.json");
    recent.add("file", "/a.md");
    recent.add("file", "/b.md");

    // Out of range: nothing changes and nothing is written.
    fs::remove(dir / "recent.json");
    recent.remove(2);
    EXPECT_EQ(recent.items().size(), 2u);
    EXPECT_FALSE(fs::exists(dir / "recent.json"));

    recent.remove(0);
    EXPECT_EQ(pathsOf(recent), std::vector<std::string>{"file:/a.md"});
    EXPECT_EQ(Recent(dir / "recent.json").items().size(), 1u);

    recent.clear();
    EXPECT_TRUE(recent.items().empty());
    EXPECT_EQ(nlohmann::json::parse(TempDir::read(dir / "recent.json")), nlohmann::json::array());
}

TEST(Recent, ListingMarksWhatIsGoneOrOfTheOtherKind) {
    TempDir dir;
    auto file = dir.write("notes/plan.md", "x");
    auto folder = dir / "notes";
    fs::create_directory(dir / "became-a-folder.md");
    fs::create_symlink(file, dir / "link.md");

    Recent recent(dir / "recent.json");
    recent.add("file", dir / "gone.md");
    recent.add("file", dir / "became-a-folder.md");
    recent.add("folder", file);
    recent.add("folder", folder);
    recent.add("file", dir / "link.md");
    recent.add("file", file);

    auto listing = recent.listing();
    ASSERT_EQ(listing.size(), 6u);
    EXPECT_EQ(listing[0], (nlohmann::json{{"index", 0}, {"kind", "file"}, {"path", file}, {"name", "plan.md"},
                                          {"missing", false}}));
    std::vector<bool> missing;
    for (const auto& entry : listing) missing.push_back(entry["missing"].get<bool>());
    EXPECT_EQ(missing, (std::vector<bool>{false, false, false, true, true, true}));
    EXPECT_EQ(listing[2]["name"], "notes");
    EXPECT_EQ(listing[5]["index"], 5);
}

}  // namespace
