// Open Recent endpoints: the list, clearing it, and reopening by position.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

namespace {

// Adds entries as the openers do, on io where the list lives; the last one given ends up first.
void remember(BridgeHarness& h, const std::vector<std::pair<std::string, std::string>>& items) {
    h.bridge->io.sync([&] {
        for (const auto& [kind, path] : items) h.bridge->recent().add(kind, path);
    });
}

struct IndexCase {
    std::string name;
    std::string query;
};

void PrintTo(const IndexCase& c, std::ostream* out) { *out << c.name; }

class RecentIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(RecentIndex, OutsideTheListIsRefused) {
    BridgeHarness h;
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < 10; ++i) items.emplace_back("file", h.dir.write("f" + std::to_string(i) + ".md", "x"));
    remember(h, items);
    Answer answer = h.request("POST", "/api/recent/open" + GetParam().query);
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.json(), nlohmann::json({{"error", "that recent item no longer exists; reopen the list"}}));
    EXPECT_EQ(h.request("GET", "/api/recent").json()["items"].size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Recent, RecentIndex,
                         ::testing::Values(IndexCase{"PastTheEnd", "?index=10"}, IndexCase{"Negative", "?index=-1"},
                                           IndexCase{"NotANumber", "?index=two"}, IndexCase{"Missing", ""},
                                           IndexCase{"Empty", "?index="}, IndexCase{"WithBlank", "?index=%201"},
                                           IndexCase{"TooLarge", "?index=99999999999999999999"}),
                         [](const ::testing::TestParamInfo<IndexCase>& info) { return info.param.name; });

TEST(Recent, ListsAndClears) {
    BridgeHarness h;
    std::string doc = h.dir.write("a.md", "x");
    remember(h, {{"file", doc}, {"folder", h.dir / "gone"}});
    auto items = h.request("GET", "/api/recent").json()["items"];
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]["kind"], "folder");
    EXPECT_EQ(items[0]["missing"], true);
    EXPECT_EQ(items[1]["name"], "a.md");
    EXPECT_EQ(items[1]["missing"], false);

    EXPECT_EQ(h.request("POST", "/api/recent/clear").json(), nlohmann::json::parse(R"({"items": []})"));
    EXPECT_EQ(h.request("GET", "/api/recent").json(), nlohmann::json::parse(R"({"items": []})"));
}

TEST(Recent, ReopeningAFileGivesItsHandleAndPutsItFirst) {
    BridgeHarness h;
    std::string doc = h.dir.write("notes/plan.md", "x");
    std::string other = h.dir.write("other.md", "x");
    remember(h, {{"file", doc}, {"file", other}});

    Answer first = h.request("POST", "/api/recent/open?index=1");
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.json(), nlohmann::json({{"kind", "file"}, {"file", "f1"}, {"location", doc}, {"name", "plan.md"}}));
    auto items = h.request("GET", "/api/recent").json()["items"];
    EXPECT_EQ(items[0]["path"], doc);
    EXPECT_EQ(items.size(), 2u);
    // Index 0 is now the same document: the handle it already has comes back.
    EXPECT_EQ(h.request("POST", "/api/recent/open?index=+0").json()["file"], "f1");
}

TEST(Recent, ReopeningAFolderOpensIt) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    remember(h, {{"folder", h.dir / "docs"}, {"file", h.dir.write("b.md", "x")}});
    Answer answer = h.request("POST", "/api/recent/open?index=1");
    EXPECT_EQ(answer.json(), nlohmann::json({{"kind", "folder"}, {"folder", h.dir / "docs"}}));
    auto tree = h.request("GET", "/api/tree").json();
    EXPECT_EQ(tree["folder"], fs::canonical(h.dir / "docs").string());
    EXPECT_EQ(tree["files"][0]["path"], "a.md");
    EXPECT_EQ(h.request("GET", "/api/recent").json()["items"][0]["kind"], "folder");
}

struct GoneCase {
    std::string name;
    std::string kind;
    // Leaves something other than what the entry remembers at `path`.
    std::function<void(const std::string& path)> change;
};

void PrintTo(const GoneCase& c, std::ostream* out) { *out << c.name; }

class RecentGone : public ::testing::TestWithParam<GoneCase> {};

TEST_P(RecentGone, IsRemovedAndThePageToldWhy) {
    BridgeHarness h;
    std::string path = h.dir / "item.md";
    std::string kept = h.dir.write("kept.md", "x");
    remember(h, {{"file", kept}, {GetParam().kind, path}});
    GetParam().change(path);

    Answer answer = h.request("POST", "/api/recent/open?index=0");
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.json(),
              nlohmann::json({{"error", path + " is no longer there (moved or deleted); removed from Open Recent"},
                              {"removed", true}}));
    auto items = h.request("GET", "/api/recent").json()["items"];
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["path"], kept);
}

INSTANTIATE_TEST_SUITE_P(
    Recent, RecentGone,
    ::testing::Values(GoneCase{"FileDeleted", "file", [](const std::string&) {}},
                      GoneCase{"FileNowAFolder", "file", [](const std::string& p) { fs::create_directory(p); }},
                      GoneCase{"FolderNowAFile", "folder",
                               [](const std::string& p) { std::ofstream(p) << "x"; }}),
    [](const ::testing::TestParamInfo<GoneCase>& info) { return info.param.name; });

}  // namespace
