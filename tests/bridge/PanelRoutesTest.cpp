// Open and save panels answered by script, and documents given to the program
// by the file manager: through the Bridge, and once through the console.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "tests/support/BridgeHarness.hpp"
#include "tests/support/ConsoleProcess.hpp"

namespace fs = std::filesystem;

namespace {

const nlohmann::json cancelledAnswer = {{"cancelled", true}};

Answer choose(BridgeHarness& h, const std::string& route, std::optional<PanelResult> answer) {
    if (answer) h.platform.panelAnswers.push_back(*answer);
    return h.request("POST", route);
}

TEST(ChooseFolder, OpensTheChosenFolderOrKeepsTheOpenOne) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    Answer none = choose(h, "/api/choose-folder", std::nullopt);
    EXPECT_EQ(none.json(), nlohmann::json::parse(R"({"cancelled": true, "folder": null})"));
    const PanelOptions& shown = h.platform.panelsShown.back();
    EXPECT_FALSE(shown.files);
    EXPECT_TRUE(shown.folders);
    EXPECT_FALSE(shown.multiple);
    EXPECT_EQ(shown.message, "Choose a folder of Markdown documents for " + appName());

    Answer chosen = choose(h, "/api/choose-folder", PanelResult{true, {h.dir / "docs"}});
    EXPECT_EQ(chosen.json(), nlohmann::json({{"cancelled", false}, {"folder", h.dir / "docs"}}));
    EXPECT_EQ(h.request("GET", "/api/tree").json()["files"][0]["path"], "a.md");

    // Cancelled (or confirmed with nothing chosen): the folder open now is named.
    for (auto answer : {PanelResult{false, {}}, PanelResult{true, {}}}) {
        EXPECT_EQ(choose(h, "/api/choose-folder", answer).json(),
                  nlohmann::json({{"cancelled", true}, {"folder", fs::canonical(h.dir / "docs").string()}}));
    }
}

TEST(ChooseFolder, StartsOnlyInAnAbsoluteFolder) {
    BridgeHarness h;
    for (auto [query, start] : {std::pair{"?start=/home/u/notes", "/home/u/notes"}, std::pair{"?start=notes", ""},
                                std::pair{"", ""}}) {
        h.request("POST", std::string("/api/choose-folder") + query);
        EXPECT_EQ(h.platform.panelsShown.back().startFolder, start) << query;
    }
}

TEST(ChooseFiles, EachDocumentGetsAHandleKeptForLater) {
    BridgeHarness h;
    std::vector<std::string> docs{h.dir.write("a.md", "x"), h.dir.write("b.markdown", "x"), h.dir.write("c.md", "x")};
    Answer answer = choose(h, "/api/choose-files", PanelResult{true, docs});
    const PanelOptions& shown = h.platform.panelsShown.back();
    EXPECT_TRUE(shown.multiple);
    EXPECT_EQ(shown.extensions, (std::vector<std::string>{"md", "markdown"}));
    EXPECT_EQ(shown.message, "Choose Markdown documents to open in " + appName());
    EXPECT_EQ(answer.json(), nlohmann::json::parse(R"({"cancelled": false, "files": [
        {"file": "f1", "location": ")" + docs[0] + R"(", "name": "a.md"},
        {"file": "f2", "location": ")" + docs[1] + R"(", "name": "b.markdown"},
        {"file": "f3", "location": ")" + docs[2] + R"(", "name": "c.md"}]})"));
    auto recent = h.request("GET", "/api/recent").json()["items"];
    ASSERT_EQ(recent.size(), 3u);
    EXPECT_EQ(recent[0]["path"], docs[2]);
    EXPECT_EQ(recent[0]["kind"], "file");

    // One of them chosen again: its old handle.
    Answer again = choose(h, "/api/choose-file", PanelResult{true, {docs[1]}});
    EXPECT_EQ(again.json(),
              nlohmann::json({{"cancelled", false}, {"file", "f2"}, {"location", docs[1]}, {"name", "b.markdown"}}));
    EXPECT_FALSE(h.platform.panelsShown.back().multiple);
    EXPECT_EQ(h.platform.panelsShown.back().message, "Choose a Markdown document to open in " + appName());
}

TEST(ChooseFiles, CancelAnswersWithoutTouchingAnything) {
    BridgeHarness h;
    EXPECT_EQ(choose(h, "/api/choose-files", PanelResult{false, {h.dir / "a.md"}}).json(),
              nlohmann::json::parse(R"({"cancelled": true, "files": []})"));
    EXPECT_EQ(choose(h, "/api/choose-file", std::nullopt).json(), cancelledAnswer);
    EXPECT_EQ(choose(h, "/api/choose-save", std::nullopt).json(), cancelledAnswer);
    EXPECT_TRUE(h.request("GET", "/api/recent").json()["items"].empty());
}

struct SaveCase {
    std::string name;
    std::string chosen;    // file name the user confirmed
    std::string expected;  // file name answered
    bool exists = false;
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.name; }

class ChooseSave : public ::testing::TestWithParam<SaveCase> {};

TEST_P(ChooseSave, AnswersAMarkdownPlaceAndWritesNothing) {
    const SaveCase& c = GetParam();
    BridgeHarness h;
    if (c.exists) h.dir.write(c.expected, "earlier");
    Answer answer = choose(h, "/api/choose-save", PanelResult{true, {h.dir / c.chosen}});
    EXPECT_EQ(answer.json(), nlohmann::json({{"cancelled", false},
                                             {"file", "f1"},
                                             {"location", h.dir / c.expected},
                                             {"name", c.expected},
                                             {"exists", c.exists}}));
    EXPECT_EQ(fs::exists(h.dir / c.expected), c.exists);
    EXPECT_TRUE(h.request("GET", "/api/recent").json()["items"].empty());
}

INSTANTIATE_TEST_SUITE_P(Panels, ChooseSave,
                         ::testing::Values(SaveCase{"NoExtensionGetsMd", "notes", "notes.md"},
                                           SaveCase{"MarkdownKept", "notes.markdown", "notes.markdown"},
                                           SaveCase{"CapitalsKept", "NOTES.MD", "NOTES.MD"},
                                           SaveCase{"OtherExtensionGetsMd", "notes.txt", "notes.txt.md"},
                                           SaveCase{"ReplacingAnExistingFile", "old.md", "old.md", true}),
                         [](const ::testing::TestParamInfo<SaveCase>& info) { return info.param.name; });

TEST(ChooseSavePanel, SuggestsANameOfAtMost200Characters) {
    BridgeHarness h;
    struct {
        std::string query;
        std::string shown;
    } cases[] = {
        {"", "Untitled.md"},
        {"?name=plan.md", "plan.md"},
        {"?name=" + std::string(300, 'a'), std::string(200, 'a')},
        // An accented letter written as two code points is one character, never cut in two.
        {"?name=" + std::string(199, 'a') + "e%CC%81" + "zzz", std::string(199, 'a') + "e\xCC\x81"},
    };
    for (const auto& c : cases) {
        choose(h, "/api/choose-save" + c.query, std::nullopt);
        const PanelOptions& shown = h.platform.panelsShown.back();
        EXPECT_EQ(shown.suggestedName, c.shown) << c.query;
        EXPECT_EQ(shown.kind, PanelOptions::Kind::save);
        EXPECT_EQ(shown.extensions, std::vector<std::string>{"md"});
        EXPECT_EQ(shown.message, "Save the document as");
    }
}

// --- documents from the file manager -----------------------------------------

void handOver(BridgeHarness& h, std::vector<std::string> paths) {
    int before = 0;
    h.bridge->onOpenRequested = [&] {
        EXPECT_TRUE(h.main.isCurrent());
        ++before;
    };
    h.bridge->handOverFromFinder(std::move(paths));
    ASSERT_TRUE(h.pumpUntil([&] { return before == 1; }));
    h.bridge->onOpenRequested = nullptr;
}

TEST(HandOver, KeepsMarkdownDocumentsCountsTheRestAndLogsCountsOnly) {
    BridgeHarness h;
    std::string a = h.dir.write("in/a.md", "x");
    std::string b = h.dir.write("in/B.MARKDOWN", "x");
    std::string pdf = h.dir.write("in/paper.pdf", "x");
    fs::create_directories(h.dir / "in/folder.md");
    handOver(h, {h.dir / "in/folder.md", pdf, a, b});
    EXPECT_EQ(h.log.messages(), std::vector<std::string>{"finder: 2 to open, 2 left out"});

    // Another hand-over before the page collects: duplicates merge, counts add up.
    handOver(h, {a, h.dir / "in/missing.md", "relative/c.md"});
    EXPECT_EQ(h.log.messages().back(), "finder: 2 to open, 4 left out");

    Answer opened = h.request("POST", "/api/opened");
    EXPECT_EQ(opened.json(), nlohmann::json::parse(R"({"files": [
        {"file": "f1", "location": ")" + a + R"(", "name": "a.md"},
        {"file": "f2", "location": ")" + b + R"(", "name": "B.MARKDOWN"}], "skipped": 4})"));
    EXPECT_EQ(h.request("POST", "/api/opened").json(), nlohmann::json::parse(R"({"files": [], "skipped": 0})"));
    auto recent = h.request("GET", "/api/recent").json()["items"];
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0]["path"], a);
}

TEST(HandOver, DocumentsInsideTheOpenFolderAreNamedByPath) {
    BridgeHarness h;
    std::string inside = h.dir.write("docs/notes/a.md", "x");
    std::string drafts = h.dir.write("docs/.drafts/b.md", "x");
    std::string secret = h.dir.write("docs/.git/b.md", "x");
    std::string outside = h.dir.write("elsewhere/c.md", "x");
    fs::create_symlink(inside, h.dir / "elsewhere/link.md");
    h.platform.panelAnswers.push_back({true, {h.dir / "docs"}});
    h.request("POST", "/api/choose-folder");
    handOver(h, {inside, drafts, secret, outside, h.dir / "elsewhere/link.md"});

    std::string real = fs::canonical(inside).string();
    auto files = h.request("POST", "/api/opened").json()["files"];
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[0], nlohmann::json({{"path", "notes/a.md"}, {"location", real}, {"name", "a.md"}}));
    // An ordinary hidden folder is a place the page may name, as the listing does.
    EXPECT_EQ(files[1], nlohmann::json({{"path", ".drafts/b.md"}, {"location", drafts}, {"name", "b.md"}}));
    // A secret folder is not: the document comes as one opened from outside.
    EXPECT_EQ(files[2], nlohmann::json({{"file", "f1"}, {"location", secret}, {"name", "b.md"}}));
    EXPECT_EQ(files[3], nlohmann::json({{"file", "f2"}, {"location", outside}, {"name", "c.md"}}));
    // A link into the folder is named by where it leads.
    EXPECT_EQ(files[4], files[0]);
}

// --- the same through the console -------------------------------------------------

std::string request(int id, const std::string& method, const std::string& path) {
    return nlohmann::json{{"id", id},
                          {"url", "lornwick://app" + path},
                          {"method", method},
                          {"headers", {{"X-Quillmarsh-Token", "{{TOKEN}}"}}}}
        .dump();
}

nlohmann::json body(const ConsoleRun& run, int id) {
    auto answer = run.answer(id);
    if (!answer.is_object()) return nullptr;
    return nlohmann::json::parse(answer["body"].get<std::string>());
}

TEST(PanelsInTheConsole, ScriptedAnswersAndHandOver) {
    TempDir home;
    std::string a = home.write("docs/a.md", "x");
    std::string pdf = home.write("docs/b.pdf", "x");
    nlohmann::json chosen = {{"panel", {{"chosen", true}, {"urls", {a}}}}};
    auto run = runConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string(),
                          {chosen.dump(), request(1, "POST", "/api/choose-file"), R"({"wait": true})",
                           request(2, "POST", "/api/choose-file"), R"({"wait": true})",
                           nlohmann::json{{"finder", {a, pdf, a}}}.dump(), R"({"wait": true})",
                           request(3, "POST", "/api/opened")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(body(run, 1), nlohmann::json({{"cancelled", false}, {"file", "f1"}, {"location", a}, {"name", "a.md"}}));
    EXPECT_EQ(body(run, 2), cancelledAnswer);  // nothing queued: the panel is cancelled
    EXPECT_EQ(body(run, 3), nlohmann::json::parse(R"({"files": [{"file": "f1", "location": ")" + a +
                                                  R"(", "name": "a.md"}], "skipped": 1})"));

    int panels = 0;
    bool openRequested = false;
    for (const auto& event : run.events()) {
        if (event["event"] == "panel") {
            ++panels;
            EXPECT_EQ(event["message"], "Choose a Markdown document to open in " + appName());
        }
        openRequested = openRequested || event["event"] == "open-requested";
    }
    EXPECT_EQ(panels, 2);
    EXPECT_TRUE(openRequested);
    std::string log = TempDir::read(home / "state/Quillmarsh.log");
    EXPECT_NE(log.find("finder: 1 to open, 1 left out"), std::string::npos);
    EXPECT_EQ(log.find(a), std::string::npos);  // counts only, never a path
}

}  // namespace
