// Auto-save endpoints: a document's state, its switch, and the list of rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "core/Files.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/Refusal.hpp"

namespace fs = std::filesystem;

namespace {

// A Bridge with the folder "docs" open, holding "notes/plan.md".
struct AutoSaveBridge {
    AutoSaveBridge() {
        h.dir.write("docs/notes/plan.md", "# Plan\n");
        root = fs::canonical(h.dir / "docs").string();
        h.bridge->io.sync([this] { h.bridge->folder().set(root); });
    }

    Answer post(const std::string& route, const nlohmann::json& body) { return h.request("POST", route, body.dump()); }
    nlohmann::json rules() { return h.request("GET", "/api/autosave/rules").json()["rules"]; }
    std::map<std::string, bool> items() {
        std::map<std::string, bool> items;
        h.bridge->io.sync([&] { items = h.bridge->autosave().items(); });
        return items;
    }
    void set(const std::string& scope, const std::string& path, bool value) {
        h.bridge->io.sync([&] { h.bridge->autosave().set(scope, path, value); });
    }

    BridgeHarness h;
    std::string root;
};

nlohmann::json state(nlohmann::json file, nlohmann::json folder, nlohmann::json folderPath,
                     const std::string& docFolder, bool effective) {
    return {{"file", file},           {"folder", folder},       {"folderPath", folderPath},
            {"docFolder", docFolder}, {"effective", effective}, {"default", true}};
}

TEST(AutoSaveRoutes, FolderScopeIsStoredUnderTheDocumentsFolder) {
    AutoSaveBridge b;
    const std::string notes = b.root + "/notes";
    const std::string file = b.h.bridge->autosave().path();
    EXPECT_EQ(fs::path(file), fs::path(b.h.bridge->backupsFolder()).parent_path() / "autosave.json");
    EXPECT_EQ(b.h.request("GET", "/api/autosave?path=notes/plan.md").json(),
              state(nullptr, nullptr, nullptr, notes, true));
    // Asking writes nothing.
    EXPECT_FALSE(fs::exists(file));

    Answer answer = b.post("/api/autosave", {{"path", "notes/plan.md"}, {"scope", "folder"}, {"value", false}});
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), state(nullptr, false, notes, notes, false));
    EXPECT_EQ(b.items(), (std::map<std::string, bool>{{"folder:" + notes, false}}));
    // The folder's rule reaches every document in it, named or not yet written.
    EXPECT_EQ(b.h.request("GET", "/api/autosave?path=notes/other.md").json(),
              state(nullptr, false, notes, notes, false));

    answer = b.post("/api/autosave", {{"path", "notes/plan.md"}, {"scope", "file"}, {"value", true}});
    EXPECT_EQ(answer.json(), state(true, false, notes, notes, true));
    EXPECT_EQ(b.items(),
              (std::map<std::string, bool>{{"file:" + notes + "/plan.md", true}, {"folder:" + notes, false}}));

    // The next launch finds the rules again.
    b.h.makeBridge();
    b.h.bridge->io.sync([&] { b.h.bridge->folder().set(b.root); });
    EXPECT_EQ(b.h.request("GET", "/api/autosave?path=notes/plan.md").json(), state(true, false, notes, notes, true));
}

TEST(AutoSaveRoutes, AHandleNamesTheDocument) {
    AutoSaveBridge b;
    std::string outside = fs::canonical(b.h.dir.write("outside/letter.md", "x")).string();
    std::string handle;
    b.h.bridge->io.sync([&] { handle = b.h.bridge->handles().handle(outside); });
    const std::string folder = fs::path(outside).parent_path().string();

    // The handle wins over a path given beside it.
    Answer answer = b.post("/api/autosave", {{"file", handle}, {"path", "notes/plan.md"}, {"scope", "file"},
                                             {"value", false}});
    EXPECT_EQ(answer.json(), state(false, nullptr, nullptr, folder, false));
    EXPECT_EQ(b.h.request("GET", "/api/autosave?file=" + handle).json(), state(false, nullptr, nullptr, folder, false));
    // No folder need be open for a handle.
    b.h.bridge->io.sync([&] { b.h.bridge->folder().set(std::nullopt); });
    EXPECT_EQ(b.h.request("GET", "/api/autosave?file=" + handle + "&path=x.md").status, 200);
}

struct RemovalCase {
    const char* name;
    nlohmann::json body;
};

void PrintTo(const RemovalCase& c, std::ostream* out) { *out << c.name; }

class AutoSaveRemoval : public testing::TestWithParam<RemovalCase> {};

TEST_P(AutoSaveRemoval, AValueThatIsNotABooleanRemovesTheRule) {
    AutoSaveBridge b;
    b.set("file", b.root + "/notes/plan.md", false);
    b.set("folder", b.root, false);
    nlohmann::json body = GetParam().body;
    body["path"] = "notes/plan.md";
    body["scope"] = "file";
    Answer answer = b.post("/api/autosave", body);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), state(nullptr, false, b.root, b.root + "/notes", false));
    EXPECT_EQ(b.items(), (std::map<std::string, bool>{{"folder:" + b.root, false}}));
}

INSTANTIATE_TEST_SUITE_P(AutoSave, AutoSaveRemoval,
                         testing::Values(RemovalCase{"Null", {{"value", nullptr}}},
                                         RemovalCase{"Text", {{"value", "true"}}},
                                         RemovalCase{"Number", {{"value", 1}}}, RemovalCase{"Missing", {}}),
                         [](const testing::TestParamInfo<RemovalCase>& info) { return info.param.name; });

TEST(AutoSaveRoutes, ScopeMustBeFileOrFolder) {
    AutoSaveBridge b;
    for (const nlohmann::json& scope : {nlohmann::json("File"), nlohmann::json(""), nlohmann::json(nullptr),
                                        nlohmann::json(1), nlohmann::json::array({"file"})}) {
        Answer answer = b.post("/api/autosave", {{"path", "notes/plan.md"}, {"scope", scope}, {"value", true}});
        EXPECT_EQ(answer.status, 400) << scope;
        EXPECT_EQ(answer.error(), "scope must be file or folder") << scope;
    }
    Answer missing = b.post("/api/autosave", {{"path", "notes/plan.md"}, {"value", true}});
    EXPECT_EQ(missing.error(), "scope must be file or folder");
    EXPECT_TRUE(b.items().empty());
}

// The document is named before anything else is judged, as every document
// route names it.
TEST(AutoSaveRoutes, UnknownHandlesAndRefusedPathsAreAnsweredFirst) {
    AutoSaveBridge b;
    const BridgeError unknown(403, "unknown file handle (use Open File again)");
    for (Answer answer : {b.h.request("GET", "/api/autosave?file=f9&path=notes/plan.md"),
                          b.post("/api/autosave", {{"file", "f9"}, {"path", "notes/plan.md"}, {"scope", "file"}}),
                          b.post("/api/autosave", {{"file", "f9"}, {"scope", "nonsense"}})}) {
        EXPECT_EQ(BridgeError(answer.status, answer.error()), unknown);
    }

    for (const std::string path : {"", "../outside.md", ".git/config.md", "notes/../../x.md", "notes//plan.md"}) {
        auto expected = refusal([&] { Files::resolve(path, b.root); });
        ASSERT_TRUE(expected) << path;
        Answer get = b.h.request("GET", "/api/autosave?path=" + path);
        EXPECT_EQ(BridgeError(get.status, get.error()), *expected) << path;
        Answer post = b.post("/api/autosave", {{"path", path}, {"scope", "x"}, {"value", true}});
        EXPECT_EQ(BridgeError(post.status, post.error()), *expected) << path;
    }
    // A body that is not a JSON object names no document: the empty path.
    auto emptyPath = refusal([&] { Files::resolve("", b.root); });
    for (const std::string body : {"not json", "[1]", "\"notes/plan.md\"", ""}) {
        Answer answer = b.h.request("POST", "/api/autosave", body);
        EXPECT_EQ(BridgeError(answer.status, answer.error()), *emptyPath) << body;
    }
    // Members that are not text name nothing either.
    Answer numeric = b.post("/api/autosave", {{"file", 1}, {"path", {"notes/plan.md"}}, {"scope", "file"}});
    EXPECT_EQ(BridgeError(numeric.status, numeric.error()), *emptyPath);

    b.h.bridge->io.sync([&] { b.h.bridge->folder().set(std::nullopt); });
    auto noFolder = refusal([&] { Files::resolve("notes/plan.md", std::nullopt); });
    ASSERT_TRUE(noFolder);
    Answer closed = b.h.request("GET", "/api/autosave?path=notes/plan.md");
    EXPECT_EQ(BridgeError(closed.status, closed.error()), *noFolder);
    EXPECT_TRUE(b.items().empty());
}

TEST(AutoSaveRoutes, RulesAreListedSortedFileBeforeFolder) {
    AutoSaveBridge b;
    EXPECT_EQ(b.rules(), nlohmann::json::array());
    b.set("folder", "/a", true);
    b.set("file", "/z/doc.md", false);
    b.set("folder", "/", false);
    EXPECT_EQ(b.h.request("GET", "/api/autosave/rules").json(), nlohmann::json::parse(R"({"rules": [
        {"key": "file:/z/doc.md", "kind": "file", "path": "/z/doc.md", "value": false},
        {"key": "folder:/", "kind": "folder", "path": "/", "value": false},
        {"key": "folder:/a", "kind": "folder", "path": "/a", "value": true}]})"));
}

TEST(AutoSaveRoutes, RulesAreChangedAndRemovedByKey) {
    AutoSaveBridge b;
    b.set("folder", "/a", true);
    b.set("file", "/a/doc.md", true);

    Answer changed = b.post("/api/autosave/rules", {{"key", "folder:/a"}, {"value", false}});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.json()["rules"][1],
              nlohmann::json::parse(R"({"key": "folder:/a", "kind": "folder", "path": "/a", "value": false})"));
    for (const nlohmann::json& body : {nlohmann::json{{"key", "file:/a/doc.md"}, {"value", nullptr}},
                                       nlohmann::json{{"key", "folder:/a"}}}) {
        EXPECT_EQ(b.post("/api/autosave/rules", body).status, 200) << body;
    }
    EXPECT_TRUE(b.items().empty());
    EXPECT_EQ(b.rules(), nlohmann::json::array());
}

struct RulesRefusalCase {
    const char* name;
    std::string body;
    int status;
    std::string error;
};

void PrintTo(const RulesRefusalCase& c, std::ostream* out) { *out << c.name; }

class AutoSaveRulesRefusal : public testing::TestWithParam<RulesRefusalCase> {};

TEST_P(AutoSaveRulesRefusal, RefusedAndNothingChanges) {
    AutoSaveBridge b;
    b.set("folder", "/a", true);
    Answer answer = b.h.request("POST", "/api/autosave/rules", GetParam().body);
    EXPECT_EQ(answer.status, GetParam().status);
    EXPECT_EQ(answer.error(), GetParam().error);
    EXPECT_EQ(b.items(), (std::map<std::string, bool>{{"folder:/a", true}}));
}

const std::string badValue = "value must be true, false or null";
const std::string noRule = "no such auto-save rule";

INSTANTIATE_TEST_SUITE_P(
    AutoSave, AutoSaveRulesRefusal,
    testing::Values(RulesRefusalCase{"TextValue", R"({"key": "folder:/a", "value": "false"})", 400, badValue},
                    RulesRefusalCase{"NumberValue", R"({"key": "folder:/a", "value": 0})", 400, badValue},
                    RulesRefusalCase{"ObjectValue", R"({"key": "folder:/a", "value": {}})", 400, badValue},
                    // The value is judged before the key.
                    RulesRefusalCase{"TextValueNoKey", R"({"value": "off"})", 400, badValue},
                    RulesRefusalCase{"KeyWithoutRule", R"({"key": "folder:/b", "value": true})", 404, noRule},
                    RulesRefusalCase{"OnlyRemoving", R"({"key": "file:/a", "value": null})", 404, noRule},
                    RulesRefusalCase{"KeyNotText", R"({"key": ["folder:/a"], "value": false})", 404, noRule},
                    RulesRefusalCase{"NotJSON", "folder:/a", 404, noRule},
                    RulesRefusalCase{"NotAnObject", R"(["folder:/a", false])", 404, noRule}),
    [](const testing::TestParamInfo<RulesRefusalCase>& info) { return info.param.name; });

TEST(AutoSave, TheDefaultFollowsTheSettingAtOnce) {
    AutoSaveBridge b;
    auto ask = [&] { return b.h.request("GET", "/api/autosave?path=notes/plan.md").json(); };
    EXPECT_EQ(ask()["default"], true);
    ASSERT_EQ(b.post("/api/settings", {{"autosaveDefault", false}}).status, 200);
    nlohmann::json off = ask();
    EXPECT_EQ(off["default"], false);
    EXPECT_EQ(off["effective"], false);
    // A rule of the document's folder still wins over the default.
    b.post("/api/autosave", {{"path", "notes/plan.md"}, {"scope", "folder"}, {"value", true}});
    EXPECT_EQ(ask()["effective"], true);
}

}  // namespace
