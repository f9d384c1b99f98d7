// A plugin's folder through the Bridge: the checks every request passes, the
// panel that chooses the folder, its state as the disk changes, forgetting it
// and creating files in it; and the panel's wording through the console.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/PluginFolder.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/ConsoleProcess.hpp"

namespace fs = std::filesystem;

namespace {

const std::string route = "/api/plugin-folder";
const std::string plugin = "?plugin=my-plugin";

nlohmann::json state(const nlohmann::json& folder, nlohmann::json files, bool missing) {
    return {{"folder", folder}, {"files", std::move(files)}, {"missing", missing}};
}

const nlohmann::json noFolder = state(nullptr, nlohmann::json::array(), false);

Answer choose(BridgeHarness& h, std::optional<PanelResult> answer, const std::string& query = plugin) {
    if (answer) h.platform.panelAnswers.push_back(*answer);
    return h.request("POST", route + "/choose" + query);
}

TEST(PluginFolderRoutes, ABadPluginIsNamedBeforeABadRoute) {
    BridgeHarness h;
    const std::string requests[][2] = {{"GET", route},        {"POST", route + "/choose"}, {"POST", route},
                                       {"PUT", route + "/x"}, {"DELETE", route + "/"},     {"GET", route + "/create"}};
    for (const char* query : {"", "?plugin=", "?plugin=a", "?plugin=My-plugin", "?plugin=my-plugin%0A",
                              "?plugin=abcdefghijklmnopqrstuvwxyz0123456789abcde"}) {
        for (const auto& [method, path] : requests) {
            Answer answer = h.request(method, path + query);
            EXPECT_EQ(answer.status, 400) << method << " " << path << query;
            EXPECT_EQ(answer.error(), "unknown plugin") << method << " " << path << query;
        }
    }
    // Forty characters is still an id.
    EXPECT_EQ(h.request("GET", route + "?plugin=abcdefghijklmnopqrstuvwxyz0123456789abcd").status, 200);
    for (const auto& [method, path] : {std::pair{"GET", route + "/choose"}, std::pair{"POST", route},
                                       std::pair{"PUT", route + "/create"}, std::pair{"POST", route + "/other"},
                                       std::pair{"POST", route + "/"}, std::pair{"DELETE", route},
                                       std::pair{"PROPFIND", route}}) {
        Answer answer = h.request(method, path + plugin);
        EXPECT_EQ(answer.status, 404) << method << " " << path;
        EXPECT_EQ(answer.error(), "not found") << method << " " << path;
    }
    EXPECT_TRUE(h.platform.panelsShown.empty());
}

TEST(PluginFolderRoutes, ChoosingShowsThePluginInTheMessageAndAllowOnTheButton) {
    BridgeHarness h;
    for (const auto& [query, shown] :
         {std::pair<std::string, std::string>{plugin + "&label=My%0D%0APlug%E2%80%A8in%C2%85", "MyPlugin"},
          {plugin + "&label=" + std::string(70, 'x'), std::string(60, 'x')},
          {plugin + "&label=", "a plugin"},
          {plugin, "a plugin"}}) {
        EXPECT_EQ(choose(h, std::nullopt, query).json(),
                  nlohmann::json({{"folder", nullptr}, {"files", nlohmann::json::array()}, {"missing", false},
                                  {"cancelled", true}}));
        const PanelOptions& panel = h.platform.panelsShown.back();
        EXPECT_EQ(panel.message, "Allow " + appName() + " to use this folder for " + shown) << query;
        EXPECT_EQ(panel.acceptLabel, "Allow");
        EXPECT_EQ(panel.kind, PanelOptions::Kind::open);
        EXPECT_TRUE(panel.folders);
        EXPECT_FALSE(panel.files);
        EXPECT_FALSE(panel.multiple);
    }
}

TEST(PluginFolderRoutes, TheChosenFolderIsListedKeptOnCancelAndRemembered) {
    BridgeHarness h;
    h.dir.write("plugin/b.md", "bee");
    h.dir.write("plugin/A.md", "ay");
    h.dir.write("other/c.md", "sea");
    nlohmann::json listed = nlohmann::json::parse(R"([{"name": "A", "text": "ay"}, {"name": "b", "text": "bee"}])");

    nlohmann::json chosen = state("plugin", listed, false);
    chosen["cancelled"] = false;
    EXPECT_EQ(choose(h, PanelResult{true, {h.dir / "plugin"}}).json(), chosen);
    chosen["cancelled"] = true;
    EXPECT_EQ(choose(h, PanelResult{false, {h.dir / "other"}}).json(), chosen);  // an earlier choice stays
    EXPECT_EQ(h.request("GET", route + plugin).json(), state("plugin", listed, false));
    // A folder whose name could not be answered as text is refused, and the earlier one stays.
    Answer notText = choose(h, PanelResult{true, {h.dir / "bad\xff"}});
    EXPECT_EQ(notText.status, 400);
    EXPECT_EQ(notText.error(), "the folder name is not valid UTF-8");
    EXPECT_EQ(h.request("GET", route + plugin).json(), state("plugin", listed, false));
    // Other plugins have folders of their own.
    EXPECT_EQ(h.request("GET", route + "?plugin=another").json(), noFolder);

    // A new run finds it through the store.
    h.makeBridge();
    EXPECT_EQ(h.bridge->pluginFolders().entries().at("my-plugin").path, h.dir / "plugin");
    EXPECT_EQ(h.request("GET", route + plugin).json(), state("plugin", listed, false));
}

TEST(PluginFolderRoutes, ABookmarkFindsAMovedFolder) {
    BridgeHarness h;
    h.dir.write("moved/a.md", "ay");
    h.dir.write("data/Quillmarsh/plugin-folders.json",
                nlohmann::json{{"my-plugin", {{"path", h.dir / "before"}, {"bookmark", "QUJD"}}}}.dump());
    h.bookmarks.leadsTo["QUJD"] = h.dir / "moved";
    h.makeBridge();
    EXPECT_EQ(h.request("GET", route + plugin).json(),
              state("moved", nlohmann::json::parse(R"([{"name": "a", "text": "ay"}])"), false));
}

TEST(PluginFolderRoutes, AFolderGoneIsMissingUntilForgotten) {
    BridgeHarness h;
    fs::create_directories(h.dir / "plugin");
    choose(h, PanelResult{true, {h.dir / "plugin"}});
    fs::remove(h.dir / "plugin");
    EXPECT_EQ(h.request("GET", route + plugin).json(), state(nullptr, nlohmann::json::array(), true));
    // A file in its place is no folder either, in this run or the next.
    h.dir.write("plugin", "a file");
    EXPECT_EQ(h.request("GET", route + plugin).json(), state(nullptr, nlohmann::json::array(), true));
    h.makeBridge();
    EXPECT_EQ(h.request("GET", route + plugin).json(), state(nullptr, nlohmann::json::array(), true));

    EXPECT_EQ(h.request("POST", route + "/forget" + plugin).json(), noFolder);
    EXPECT_EQ(h.request("GET", route + plugin).json(), noFolder);
    EXPECT_TRUE(h.bridge->pluginFolders().entries().empty());
}

TEST(PluginFolderRoutes, ForgettingAReachableFolderLeavesItsFiles) {
    BridgeHarness h;
    h.dir.write("plugin/a.md", "ay");
    choose(h, PanelResult{true, {h.dir / "plugin"}});
    EXPECT_EQ(h.request("POST", route + "/forget" + plugin).json(), noFolder);
    EXPECT_EQ(h.request("GET", route + plugin).json(), noFolder);
    EXPECT_EQ(TempDir::read(h.dir / "plugin/a.md"), "ay");
}

TEST(PluginFolderRoutes, CreatingNeedsAFolderAndATextThatFits) {
    BridgeHarness h;
    Answer before = h.request("POST", route + "/create" + plugin + "&name=notes", "text");
    EXPECT_EQ(before.status, 409);
    EXPECT_EQ(before.error(), "choose the folder first");

    fs::create_directories(h.dir / "plugin");
    choose(h, PanelResult{true, {h.dir / "plugin"}});
    EXPECT_EQ(h.request("POST", route + "/create" + plugin + "&name=a%2Fb.MD", "first").json(),
              nlohmann::json({{"name", "a b.md"}}));
    EXPECT_EQ(h.request("POST", route + "/create" + plugin + "&name=a%20b", "second").json(),
              nlohmann::json({{"name", "a b 2.md"}}));
    EXPECT_EQ(h.request("POST", route + "/create" + plugin, "").json(), nlohmann::json({{"name", "Untitled.md"}}));
    EXPECT_EQ(TempDir::read(h.dir / "plugin/a b.md"), "first");
    EXPECT_EQ(TempDir::read(h.dir / "plugin/a b 2.md"), "second");

    Answer large =
        h.request("POST", route + "/create" + plugin + "&name=big", std::string(PluginFolder::fileMax + 1, 'x'));
    EXPECT_EQ(large.status, 413);
    EXPECT_EQ(large.error(), "file too large");
    Answer binary = h.request("POST", route + "/create" + plugin + "&name=bin", std::string("\xff\xfe", 2));
    EXPECT_EQ(binary.status, 400);
    EXPECT_EQ(binary.error(), "not UTF-8 text");
    EXPECT_EQ(h.request("GET", route + plugin).json()["files"].size(), 3u);
}

// --- the same through the console ---------------------------------------------------

TEST(PluginFoldersInTheConsole, ThePanelEventCarriesItsMessageAndButton) {
    TempDir home;
    fs::create_directories(home / "plugin");
    auto line = [](int id, const std::string& path) {
        return nlohmann::json{{"id", id},
                              {"url", "lornwick://app" + path},
                              {"method", "POST"},
                              {"headers", {{"X-Quillmarsh-Token", "{{TOKEN}}"}}}}
            .dump();
    };
    nlohmann::json chosen = {{"panel", {{"chosen", true}, {"urls", {home / "plugin"}}}}};
    auto run = runConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string(),
                          {chosen.dump(), line(1, route + "/choose" + plugin + "&label=Daily%20notes"),
                           R"({"wait": true})", line(2, "/api/choose-file")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(run.answer(1)["body"].get<std::string>())["folder"], "plugin");
    std::vector<nlohmann::json> events;
    for (const auto& event : run.events()) {
        if (event["event"] == "panel") events.push_back(event);
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["message"], "Allow " + appName() + " to use this folder for Daily notes");
    EXPECT_EQ(events[0]["accept"], "Allow");
    EXPECT_EQ(events[0]["folders"], true);
    // Other panels keep the platform's own button.
    EXPECT_EQ(events[1]["accept"], "");
}

}  // namespace
