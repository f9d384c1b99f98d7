#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/BridgeHarness.hpp"

namespace {

TEST(Build, PassesVersionJsonThroughAndNamesTheSystem) {
    BridgeHarness h;
    h.dir.write("editor/version.json", R"({"name": "Q", "version": 7, "build": "b1", "support": "s", "feedback": "f"})");
    h.makeBridge();
    auto json = h.request("GET", "/api/build").json();
    EXPECT_EQ(json["name"], "Q");
    EXPECT_EQ(json["version"], 7);  // passed through, whatever its type
    EXPECT_EQ(json["build"], "b1");
    EXPECT_EQ(json["support"], "s");
    EXPECT_EQ(json["feedback"], "f");
    EXPECT_EQ(json["os"].get<std::string>().rfind("Linux ", 0), 0u);
    EXPECT_EQ(json.size(), 6u);
}

TEST(Build, DefaultsWithoutVersionJson) {
    BridgeHarness h(false);
    auto json = h.request("GET", "/api/build").json();
    EXPECT_EQ(json["name"], appName());
    EXPECT_EQ(json["version"], "");
    EXPECT_EQ(json["build"], "unknown");
    EXPECT_EQ(json["support"], "");
    EXPECT_EQ(json["feedback"], "");
}

TEST(About, BuildInformationWinsAndMissingMembersAreRemoved) {
    BridgeHarness h;
    h.dir.write("editor/about.json", R"({"commit": "fake", "name": "fake", "credits": ["x"], "support": "old"})");
    auto json = h.request("GET", "/api/about").json();
    EXPECT_EQ(json["commit"], "42");
    EXPECT_EQ(json["name"], "Quillmarsh");
    EXPECT_EQ(json["version"], "1.2.3");
    EXPECT_EQ(json["credits"], nlohmann::json::array({"x"}));
    EXPECT_FALSE(json.contains("support"));  // version.json has none
    EXPECT_TRUE(json["license"].is_string());

    h.dir.write("editor/version.json", "{}");
    h.makeBridge();
    json = h.request("GET", "/api/about").json();
    EXPECT_FALSE(json.contains("commit"));
    EXPECT_FALSE(json.contains("name"));

    h.dir.write("editor/about.json", "not json");
    EXPECT_EQ(h.request("GET", "/api/about").json().size(), 1u);  // just the license
}

TEST(Changelog, TextOrEmpty) {
    BridgeHarness h;
    auto json = h.request("GET", "/api/changelog").json();
    EXPECT_EQ(json["version"], "1.2.3");
    EXPECT_EQ(json["text"], "");
    h.dir.write("editor/CHANGELOG.md", "# 1.2.3\n- better");
    EXPECT_EQ(h.request("GET", "/api/changelog").json()["text"], "# 1.2.3\n- better");
    h.dir.write("editor/CHANGELOG.md", "\xff");
    Answer answer = h.request("GET", "/api/changelog");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json()["text"], "");
}

TEST(ShowBackups, CreatesTheFolderAndOpensItAfterAnswering) {
    BridgeHarness h;
    std::string folder = h.bridge->backupsFolder();
    EXPECT_FALSE(std::filesystem::exists(folder));
    Answer answer = h.request("POST", "/api/backups/show");
    EXPECT_EQ(answer.json(), nlohmann::json({{"text", "Backups are kept for 30 days."}}));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    ASSERT_TRUE(h.pumpUntil([&] { return !h.platform.openedFolders.empty(); }));
    EXPECT_EQ(h.platform.openedFolders.front(), folder);
}

}  // namespace
