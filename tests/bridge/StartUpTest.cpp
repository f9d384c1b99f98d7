// What a launch does on disk: it prunes old backups and writes nothing else;
// each store keeps its own file or folder in the support folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

namespace {

TEST(StartUp, OldBackupsArePrunedWithOneLogLine) {
    BridgeHarness h;
    h.bridge->io.sync([] {});
    EXPECT_TRUE(h.log.messages().empty());  // nothing to prune: no line

    std::string backups = h.bridge->backupsFolder();
    for (auto name : {"a (backup 2020-01-01 10.00.00).md", "b (backup 2020-01-02 10.00.00).md",
                      "c (backup 2020-01-03 10.00.00)", "notes.md"}) {
        h.dir.write(fs::relative(backups + "/" + name, h.dir.path()).string(), "old");
    }
    h.makeBridge();
    h.bridge->io.sync([] {});
    EXPECT_EQ(h.log.messages(), std::vector<std::string>{"backups: removed 3 older than 30 days"});
    EXPECT_TRUE(fs::exists(backups + "/notes.md"));
}

TEST(StartUp, NothingIsWrittenAtLaunchAndEachStoreWritesItsOwnFile) {
    BridgeHarness h;
    h.bridge->io.sync([] {});
    const std::string support = h.dataHome() + "/Quillmarsh";
    EXPECT_FALSE(fs::exists(support));

    // Damaged files are read, not rewritten, at launch.
    const std::string damaged = "{\"theme\": ";
    for (auto name : {"settings.json", "session.json", "autosave.json", "plugin-folders.json", "recent.json"}) {
        h.dir.write(fs::relative(support + "/" + name, h.dir.path()).string(), damaged);
    }
    h.makeBridge();
    h.bridge->io.sync([] {});
    for (auto name : {"settings.json", "session.json", "autosave.json", "plugin-folders.json", "recent.json"}) {
        EXPECT_EQ(TempDir::read(support + "/" + name), damaged) << name;
    }
    EXPECT_FALSE(fs::exists(support + "/recovery"));

    // A request to each store writes that store's file, whole and private.
    h.dir.write("docs/a.md", "# A\n");
    std::string folder = fs::canonical(h.dir / "docs").string();
    h.bridge->io.sync([&] { h.bridge->folder().set(folder); });
    h.dir.write("templates/t.md", "x");
    h.platform.panelAnswers.push_back({true, {h.dir / "templates"}});
    const std::pair<std::string, std::string> requests[] = {
        {"/api/settings", R"({"theme": "dark"})"},
        {"/api/session", R"({"tabs": [{"path": "a.md"}]})"},
        {"/api/autosave", R"({"path": "a.md", "scope": "file", "value": false})"},
        {"/api/plugin-folder/choose?plugin=templates", ""},
        {"/api/recovery", R"({"id": "tab-one", "text": "unsaved", "path": "a.md"})"},
    };
    for (const auto& [path, body] : requests) ASSERT_EQ(h.request("POST", path, body).status, 200) << path;
    for (auto name : {"settings.json", "session.json", "autosave.json", "plugin-folders.json", "recovery/tab-one.json"}) {
        std::string file = support + "/" + name;
        EXPECT_NE(TempDir::read(file), damaged) << name;
        EXPECT_EQ(permissionsOf(file), 0600u) << name;
    }
    EXPECT_EQ(permissionsOf(support + "/recovery"), 0700u);
}

}  // namespace
