// The session endpoints: saving what is open, asking whether there is a
// session, and reopening it in a later launch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

using Doc = SessionStore::Doc;
using Saved = SessionStore::Saved;

namespace {

std::string handleOn(BridgeHarness& h, const std::string& path) {
    std::string handle;
    h.bridge->io.sync([&] { handle = h.bridge->handles().handle(path); });
    return handle;
}

// Opens the folder as the page's Open Folder does; gives its real path.
std::string openFolder(BridgeHarness& h, const std::string& folder) {
    h.bridge->io.sync([&] { h.bridge->folder().open(folder); });
    return fs::canonical(folder).string();
}

void closeFolder(BridgeHarness& h) {
    h.bridge->io.sync([&] { h.bridge->folder().close(); });
}

// Writes the session file as an earlier launch left it.
void remember(BridgeHarness& h, const Saved& saved) {
    h.bridge->io.sync([&] { h.bridge->session().save(saved); });
}

Answer post(BridgeHarness& h, const nlohmann::json& body) { return h.request("POST", "/api/session", body.dump()); }

std::string sessionFile(BridgeHarness& h) { return h.bridge->session().path(); }

nlohmann::json stored(BridgeHarness& h) { return nlohmann::json::parse(TempDir::read(sessionFile(h))); }

nlohmann::json restore(BridgeHarness& h) {
    Answer answer = h.request("POST", "/api/session/restore");
    EXPECT_EQ(answer.status, 200) << answer.body;
    return answer.json();
}

class SessionNotAnObject : public testing::TestWithParam<std::string> {};

TEST_P(SessionNotAnObject, IsRefusedAndNothingWritten) {
    BridgeHarness h;
    Answer answer = h.request("POST", "/api/session", GetParam());
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.error(), "session must be an object");
    EXPECT_FALSE(fs::exists(sessionFile(h)));
}

INSTANTIATE_TEST_SUITE_P(Session, SessionNotAnObject,
                         testing::Values("", "not json", R"([{"tabs": []}])", R"({"views": []})", R"({"tabs": {}})",
                                         R"({"tabs": [{"file": "f1"}, "f2"]})"));

TEST(Session, KeepsTheFirstHundredTabsWhateverFollows) {
    BridgeHarness h;
    h.dir.write("docs/keep.md", "x");
    std::string folder = openFolder(h, h.dir / "docs");
    nlohmann::json tabs = nlohmann::json::array();
    nlohmann::json views = nlohmann::json::array();
    for (int i = 0; i < 150; ++i) {
        tabs.push_back({{"path", "n" + std::to_string(i) + ".md"}});
        views.push_back({{"anchor", i}, {"head", i}, {"top", i}});
    }
    // Past the hundredth tab nothing is looked at, not even a path that leaves the folder.
    tabs[100] = {{"path", "../outside.md"}};
    Answer answer = post(h, {{"tabs", tabs}, {"active", 7}, {"views", views}});
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json(), nlohmann::json({{"saved", true}}));

    nlohmann::json file = stored(h);
    ASSERT_EQ(file["tabs"].size(), 100u);
    EXPECT_EQ(file["tabs"][0], nlohmann::json({{"path", folder + "/n0.md"}, {"bookmark", ""}}));
    EXPECT_EQ(file["tabs"][99]["path"], folder + "/n99.md");
    EXPECT_EQ(file["views"].size(), 100u);
    EXPECT_EQ(file["active"], 7);
    EXPECT_EQ(file["folder"], nlohmann::json({{"path", folder}, {"bookmark", ""}}));
}

TEST(Session, SkipsUnknownHandlesAndCutsViewsToTheTabsKept) {
    BridgeHarness h;
    std::string first = h.dir.write("a.md", "x");
    std::string second = h.dir.write("b.md", "x");
    nlohmann::json body = {
        {"tabs", {{{"file", handleOn(h, first)}}, {{"file", "f99"}}, {{"path", 5}, {"file", handleOn(h, second)}}}},
        {"active", "1"},
        {"views",
         {{{"anchor", 5}, {"head", "x"}, {"extra", 1}}, {{"anchor", 1}, {"head", 2}, {"top", 3}}, {{"top", 9}}}}};
    ASSERT_EQ(post(h, body).status, 200);
    EXPECT_EQ(stored(h), nlohmann::json::parse(R"({
        "tabs": [{"path": ")" + first + R"(", "bookmark": ""}, {"path": ")" + second + R"(", "bookmark": ""}],
        "active": 0,
        "views": [{"anchor": 5, "head": 0, "top": 0}, {"anchor": 1, "head": 2, "top": 3}]})"));
}

struct ViewsCase {
    const char* name;
    nlohmann::json views;
    nlohmann::json expected;
};

void PrintTo(const ViewsCase& c, std::ostream* out) { *out << c.name; }

class SessionViews : public testing::TestWithParam<ViewsCase> {};

TEST_P(SessionViews, AreKeptOnlyAsAListOfObjects) {
    BridgeHarness h;
    std::string handle = handleOn(h, h.dir.write("a.md", "x"));
    nlohmann::json body = {{"tabs", {{{"file", handle}}, {{"file", handle}}}}};
    if (!GetParam().views.is_null()) body["views"] = GetParam().views;
    ASSERT_EQ(post(h, body).status, 200);
    EXPECT_EQ(stored(h)["views"], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Session, SessionViews,
    testing::Values(ViewsCase{"Absent", nullptr, nlohmann::json::array()},
                    ViewsCase{"NotAList", {{"anchor", 1}}, nlohmann::json::array()},
                    ViewsCase{"TextAmongThem", {{{"anchor", 1}}, "x"}, nlohmann::json::array()},
                    ViewsCase{"FewerThanTabs", {{{"top", 4}}}, {{{"anchor", 0}, {"head", 0}, {"top", 4}}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    bool folderOpen;
    std::string path;
    int status;
    std::string error;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class SessionRefusedPath : public testing::TestWithParam<RefusedCase> {};

TEST_P(SessionRefusedPath, FailsTheWholeRequestAndKeepsTheEarlierFile) {
    const RefusedCase& c = GetParam();
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    std::string handle = handleOn(h, h.dir.write("b.md", "x"));
    fs::create_symlink(h.dir / "b.md", h.dir / "docs/out.md");
    ASSERT_EQ(post(h, {{"tabs", {{{"file", handle}}}}}).status, 200);
    std::string before = TempDir::read(sessionFile(h));
    if (c.folderOpen) openFolder(h, h.dir / "docs");

    Answer answer = post(h, {{"tabs", {{{"path", "a.md"}}, {{"path", c.path}}}}});
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.error(), c.error);
    EXPECT_EQ(TempDir::read(sessionFile(h)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Session, SessionRefusedPath,
    testing::Values(RefusedCase{"NoFolderOpen", false, "a.md", 403, "no folder is open"},
                    RefusedCase{"LinkLeavesTheFolder", true, "out.md", 403, "path leaves the folder"},
                    RefusedCase{"NotMarkdown", true, "a.txt", 403, "only .md and .markdown files"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Session, ZeroTabsIsNoSessionButTheFolderIsReopened) {
    BridgeHarness h;
    EXPECT_EQ(h.request("GET", "/api/session").json(), nlohmann::json({{"exists", false}}));
    EXPECT_EQ(restore(h), nlohmann::json::parse(R"({"tabs": [], "missing": []})"));

    h.dir.write("docs/a.md", "x");
    std::string folder = openFolder(h, h.dir / "docs");
    ASSERT_EQ(post(h, {{"tabs", nlohmann::json::array()}}).status, 200);
    EXPECT_EQ(h.request("GET", "/api/session").json(), nlohmann::json({{"exists", false}}));

    closeFolder(h);
    nlohmann::json answer = restore(h);
    EXPECT_EQ(answer["folder"], folder);
    EXPECT_EQ(answer["tabs"], nlohmann::json::array());
    EXPECT_EQ(h.bridge->folder().current(), folder);
}

TEST(Session, GetListsTheTabsAndWhichAreGone) {
    BridgeHarness h;
    std::string kept = h.dir.write("kept.md", "x");
    std::string gone = h.dir.write("gone.md", "x");
    std::string nowAFolder = h.dir.write("folder.md", "x");
    ASSERT_EQ(post(h, {{"tabs",
                        {{{"file", handleOn(h, kept)}}, {{"file", handleOn(h, gone)}},
                         {{"file", handleOn(h, nowAFolder)}}}}})
                  .status,
              200);
    fs::remove(gone);
    fs::remove(nowAFolder);
    fs::create_directory(nowAFolder);

    EXPECT_EQ(h.request("GET", "/api/session").json(), nlohmann::json({
        {"exists", true},
        {"folder", nullptr},
        {"tabs",
         {{{"name", "kept.md"}, {"location", kept}, {"missing", false}},
          {{"name", "gone.md"}, {"location", gone}, {"missing", true}},
          {{"name", "folder.md"}, {"location", nowAFolder}, {"missing", true}}}}}));
}

TEST(Session, RestoreAddressesDocumentsInsideByPathOutsideByHandle) {
    BridgeHarness h;
    std::string inside = h.dir.write("docs/notes/a.md", "x");
    std::string outside = h.dir.write("elsewhere/b.md", "x");
    std::string gone = h.dir / "docs/gone.md";
    remember(h, {Doc{h.dir / "docs", std::nullopt},
                 {{inside, std::nullopt}, {gone, std::nullopt}, {outside, std::nullopt}},
                 2,
                 {{1, 2, 3}}});
    std::string folder = fs::canonical(h.dir / "docs").string();

    nlohmann::json answer = restore(h);
    EXPECT_EQ(answer, nlohmann::json({
        {"folder", folder},
        {"tabs",
         {{{"path", "notes/a.md"}, {"name", "a.md"}, {"location", folder + "/notes/a.md"}},
          {{"file", "f1"}, {"name", "b.md"}, {"location", outside}}}},
        {"active", 2},
        {"views", {{{"anchor", 1}, {"head", 2}, {"top", 3}}}},
        {"missing", {gone}}}));
    // The handle is the one the document already has, on a second restore as on Open File.
    EXPECT_EQ(restore(h)["tabs"][1]["file"], "f1");
    EXPECT_EQ(handleOn(h, outside), "f1");
    // Open Recent remembers the folder reopened.
    EXPECT_EQ(h.request("GET", "/api/recent").json()["items"][0]["path"], h.dir / "docs");

    std::vector<std::string> messages = h.log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "session: reopened 2, missing 1"), 2);
    for (const std::string& message : messages) EXPECT_EQ(message.find(h.dir.path().string()), std::string::npos);
}

TEST(Session, RestoreOfAFolderDeletedOpensNone) {
    BridgeHarness h;
    std::string outside = h.dir.write("b.md", "x");
    remember(h, {Doc{h.dir / "docs", std::nullopt}, {{h.dir / "docs/a.md", std::nullopt}, {outside, std::nullopt}}, 0, {}});
    nlohmann::json answer = restore(h);
    EXPECT_EQ(answer["folder"], nullptr);
    EXPECT_EQ(answer["missing"], nlohmann::json({h.dir / "docs/a.md"}));
    EXPECT_EQ(answer["tabs"][0]["location"], outside);
    EXPECT_EQ(h.bridge->folder().current(), std::nullopt);
}

TEST(Session, RestoreFindsAMovedDocumentThroughItsBookmark) {
    BridgeHarness h;
    std::string moved = h.dir.write("new/place.md", "x");
    h.bookmarks.leadsTo["QUJD"] = moved;
    // The bookmark wins over a stored path that holds another document now.
    std::string impostor = h.dir.write("old.md", "x");
    remember(h, {std::nullopt, {{impostor, "QUJD"}}, 0, {}});

    nlohmann::json answer = restore(h);
    EXPECT_EQ(answer["tabs"], nlohmann::json({{{"file", "f1"}, {"name", "place.md"}, {"location", moved}}}));
    EXPECT_EQ(answer["missing"], nlohmann::json::array());
    EXPECT_EQ(answer["folder"], nullptr);
}

// Names on disk need not be UTF-8, but the page cannot be given such a name:
// those documents are reported missing, by the path the session kept, and the
// rest of the session is reopened; a folder found under such a name stays closed.
TEST(Session, RestoreReportsNamesThatAreNotUTF8AsMissing) {
    BridgeHarness h;
    h.dir.write("docs/caf\xE9.md", "x");
    std::string good = h.dir.write("docs/good.md", "x");
    fs::create_symlink("caf\xE9.md", h.dir / "docs/link.md");
    h.dir.write("other\xE9/a.md", "x");
    std::string elsewhere = h.dir.write("caf\xE9.md", "x");
    h.bookmarks.leadsTo["QUJD"] = elsewhere;
    h.bookmarks.leadsTo["QUJE"] = h.dir / "other\xE9";
    remember(h, {Doc{h.dir / "docs", std::nullopt},
                 {{h.dir / "docs/link.md", std::nullopt}, {h.dir / "moved.md", "QUJD"}, {good, std::nullopt}},
                 0,
                 {}});
    std::string folder = fs::canonical(h.dir / "docs").string();

    nlohmann::json answer = restore(h);
    EXPECT_EQ(answer["folder"], folder);
    EXPECT_EQ(answer["tabs"], nlohmann::json({{{"path", "good.md"}, {"name", "good.md"}, {"location", folder + "/good.md"}}}));
    EXPECT_EQ(answer["missing"], nlohmann::json({h.dir / "docs/link.md", h.dir / "moved.md"}));

    closeFolder(h);
    remember(h, {Doc{h.dir / "gone", "QUJE"}, {{good, std::nullopt}}, 0, {}});
    answer = restore(h);
    EXPECT_EQ(answer["folder"], nullptr);
    EXPECT_EQ(answer["tabs"][0]["location"], good);
}

}  // namespace
