// The small decisions around the page: scripts the menu runs, where
// navigations go, the no-network rules, and where the program's files are.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/shell/NavigationPolicy.hpp"
#include "app/shell/NoNetworkRules.hpp"
#include "app/shell/PageScripts.hpp"
#include "app/shell/ProgramFolders.hpp"
#include "tests/support/TempDir.hpp"

namespace {

TEST(PageScripts, MenuRunOnlyForIdsOfDigitsAndDots) {
    EXPECT_EQ(PageScripts::menuRun("m1.2"),
              "window.Quillmarsh && window.Quillmarsh.menuRun && window.Quillmarsh.menuRun('m1.2')");
    EXPECT_TRUE(PageScripts::menuRun("m3"));
    EXPECT_TRUE(PageScripts::menuRun("m2.10."));
    for (const char* id : {"save", "m", "M1", "m1a", "m1');alert(1);('", "m1 ", " m1", ""}) {
        EXPECT_FALSE(PageScripts::menuRun(id)) << id;
    }
}

struct NavigationCase {
    const char* name;
    std::optional<std::string> url;
    bool linkClicked;
    bool hasTargetFrame;
    bool allow;
    bool openExternally;
};

void PrintTo(const NavigationCase& c, std::ostream* os) { *os << c.name; }

const NavigationCase navigationCases[] = {
    {"NoURL", std::nullopt, true, true, false, false},
    {"EditorPage", "lornwick://app/", false, true, true, false},
    {"EditorLinkClicked", "lornwick://app/web/other.html", true, true, true, false},
    {"ClickedWebLink", "https://a.example/", true, true, false, true},
    {"ClickedPlainWebLink", "http://a.example/", true, true, false, true},
    {"ClickedMailLink", "mailto:a@a.example", true, true, false, true},
    {"NewWindowWebLink", "https://a.example/", false, false, false, true},
    {"ScriptSetsLocation", "https://a.example/", false, true, false, false},
    {"ClickedFileLink", "file:///etc/passwd", true, true, false, false},
    {"ClickedDataLink", "data:text/html,hi", true, true, false, false},
    {"AboutBlank", "about:blank", false, true, false, false},
};

class Navigation : public testing::TestWithParam<NavigationCase> {};

TEST_P(Navigation, Decision) {
    const NavigationCase& c = GetParam();
    auto decided = NavigationPolicy::decide({c.url, c.linkClicked, c.hasTargetFrame});
    EXPECT_EQ(decided.allow, c.allow);
    EXPECT_EQ(decided.openExternally, c.openExternally);
}

INSTANTIATE_TEST_SUITE_P(Requests, Navigation, testing::ValuesIn(navigationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NavigationPolicy, NewWindowsNeverOpenAViewOnlyTheBrowser) {
    EXPECT_TRUE(NavigationPolicy::opensNewWindowExternally("https://a.example/"));
    EXPECT_TRUE(NavigationPolicy::opensNewWindowExternally("mailto:a@a.example"));
    EXPECT_FALSE(NavigationPolicy::opensNewWindowExternally("lornwick://app/"));
    EXPECT_FALSE(NavigationPolicy::opensNewWindowExternally("javascript:void(0)"));
    EXPECT_FALSE(NavigationPolicy::opensNewWindowExternally(std::nullopt));
}

TEST(NoNetworkRules, BlockEveryKindOfLoadOfEveryWebAddress) {
    auto rules = nlohmann::json::parse(NoNetworkRules::text);
    ASSERT_EQ(rules.size(), 1u);
    const auto& trigger = rules[0]["trigger"];
    EXPECT_EQ(trigger["url-filter"], "^https?://");
    EXPECT_EQ(rules[0]["action"], (nlohmann::json{{"type", "block"}}));
    // Pictures included: an <img> pointing at a server would tell it a document was opened.
    std::set<std::string> types = trigger["resource-type"];
    EXPECT_EQ(types, (std::set<std::string>{"document", "image", "style-sheet", "script", "font", "raw",
                                            "svg-document", "media", "popup", "ping", "fetch", "websocket",
                                            "other"}));
}

TEST(ProgramFolders, EditorBesideTheExecutable) {
    TempDir dir;
    std::string bin = dir / "prefix/bin";
    EXPECT_FALSE(ProgramFolders::editor(bin));
    dir.write("prefix/share/quillmarsh/editor/web/index.html", "<!doctype html>");
    EXPECT_EQ(ProgramFolders::editor(bin), dir / "prefix/share/quillmarsh/editor");
    EXPECT_FALSE(ProgramFolders::editor(""));
    EXPECT_EQ(ProgramFolders::webExtensions(bin), dir / "prefix/lib/quillmarsh/web-extensions");
}

}  // namespace
