#include "core/SessionStore.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <ostream>

using Doc = SessionStore::Doc;
using Saved = SessionStore::Saved;
using View = SessionStore::View;

void PrintTo(const Saved& saved, std::ostream* out) {
    auto doc = [](const Doc& d) { return d.path + (d.bookmark ? " bookmark " + *d.bookmark : ""); };
    *out << "folder " << (saved.folder ? doc(*saved.folder) : "none") << ", docs [";
    for (const Doc& d : saved.docs) *out << doc(d) << "; ";
    *out << "], active " << saved.active << ", views [";
    for (const View& v : saved.views) *out << v.anchor << "/" << v.head << "/" << v.top << "; ";
    *out << "]";
}

namespace {

nlohmann::json tab(const std::string& path, const std::string& bookmark = "") {
    return {{"path", path}, {"bookmark", bookmark}};
}

// A file with the given members besides an empty "tabs" unless "tabs" is given.
std::string session(nlohmann::json members) {
    if (!members.contains("tabs")) members["tabs"] = nlohmann::json::array();
    return members.dump();
}

std::string manyTabs(int count) {
    nlohmann::json tabs = nlohmann::json::array();
    nlohmann::json views = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        tabs.push_back(tab("/d/" + std::to_string(i) + ".md"));
        views.push_back({{"anchor", i}, {"head", i}, {"top", i}});
    }
    return session({{"tabs", tabs}, {"views", views}});
}

Saved firstHundred() {
    Saved saved;
    for (int i = 0; i < 100; ++i) {
        saved.docs.push_back({"/d/" + std::to_string(i) + ".md", std::nullopt});
        saved.views.push_back({i, i, i});
    }
    return saved;
}

struct LoadCase {
    const char* name;
    std::string contents;
    std::optional<Saved> expected;
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class SessionLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(SessionLoad, TakesWhatItCanAndNeverThrows) {
    TempDir dir;
    dir.write("session.json", GetParam().contents);
    std::optional<Saved> loaded;
    EXPECT_NO_THROW(loaded = SessionStore(dir / "session.json").load());
    EXPECT_EQ(loaded, GetParam().expected);
}

const std::string complete =
    session({{"folder", tab("/f", "QUJD")}, {"tabs", {tab("/f/a.md")}}, {"active", 0}, {"views", nlohmann::json::array()}});

INSTANTIATE_TEST_SUITE_P(
    Files, SessionLoad,
    testing::Values(
        // Damaged or foreign files: no session at all.
        LoadCase{"empty", "", std::nullopt},
        LoadCase{"truncated", complete.substr(0, complete.size() / 2), std::nullopt},
        LoadCase{"array", "[" + complete + "]", std::nullopt},
        LoadCase{"noTabs", R"({"active": 1, "views": []})", std::nullopt},
        LoadCase{"tabsNotAnArray", R"({"tabs": {"path": "/a.md"}})", std::nullopt},
        LoadCase{"tabNotAnObject", session({{"tabs", {tab("/a.md"), "/b.md"}}}), std::nullopt},
        LoadCase{"notUTF8", "{\"tabs\": [{\"path\": \"/caf\xE9.md\", \"bookmark\": \"\"}]}", std::nullopt},
        LoadCase{"loneSurrogateEscape", R"({"tabs": [{"path": "/a\udc80.md"}]})", std::nullopt},
        LoadCase{"deeplyNestedUnclosed", std::string(200000, '['), std::nullopt},
        // A deep value that is complete, where no member is looked for.
        LoadCase{"deeplyNestedMember",
                 R"({"tabs": [], "extra": )" + std::string(100000, '[') + std::string(100000, ']') + "}", Saved{}},
        // Tabs and folder: only absolute paths, only bookmarks in Base64.
        LoadCase{"emptyTabsIsASession", R"({"tabs": []})", Saved{}},
        LoadCase{"badTabsSkipped",
                 session({{"tabs",
                           {tab("a.md"), tab(""), {{"path", 5}}, {{"bookmark", "QUJD"}}, tab("/a.md"),
                            tab("/b.md", "QUJD"), tab("/c.md", "not base64!"), {{"path", "/d.md"}, {"bookmark", 7}},
                            tab("/e.md", "QUJ")}}}),
                 Saved{std::nullopt,
                       {{"/a.md", std::nullopt},
                        {"/b.md", "QUJD"},
                        {"/c.md", std::nullopt},
                        {"/d.md", std::nullopt},
                        {"/e.md", std::nullopt}},
                       0,
                       {}}},
        LoadCase{"folderNotAnObject", session({{"folder", "/f"}}), Saved{}},
        LoadCase{"folderRelative", session({{"folder", tab("f")}}), Saved{}},
        LoadCase{"folderKept", session({{"folder", tab("/f", "QUJD")}}), Saved{Doc{"/f", "QUJD"}, {}, 0, {}}},
        // "active": an integer in range, else 0.
        LoadCase{"activeNegative", session({{"active", -3}}), Saved{std::nullopt, {}, -3, {}}},
        LoadCase{"activeText", session({{"active", "2"}}), Saved{}},
        LoadCase{"activeFraction", session({{"active", 2.5}}), Saved{}},
        LoadCase{"activePastRange", R"({"tabs": [], "active": 18446744073709551615})", Saved{}},
        // "views": one bad element empties the list.
        LoadCase{"viewsKept",
                 session({{"views", {{{"anchor", 1}, {"head", 2}, {"top", 3}}, {{"anchor", 4}, {"extra", 9}}}}}),
                 Saved{std::nullopt, {}, 0, {{1, 2, 3}, {4, 0, 0}}}},
        LoadCase{"viewNotAnObject", session({{"views", {{{"anchor", 1}}, "x"}}}), Saved{}},
        LoadCase{"viewMemberText", session({{"views", {{{"anchor", 1}}, {{"anchor", 1}, {"head", "x"}}}}}),
                 Saved{}},
        LoadCase{"viewMemberFraction", session({{"views", {{{"top", 1.5}}}}}), Saved{}},
        LoadCase{"viewsNotAnArray", session({{"views", {{"anchor", 1}}}}), Saved{}},
        // More than a session ever holds: only the first hundred are read.
        LoadCase{"huge", manyTabs(20000), firstHundred()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SessionStore, MissingFileIsNoSession) {
    TempDir dir;
    EXPECT_EQ(SessionStore(dir / "session.json").load(), std::nullopt);
}

TEST(SessionStore, SavesWhatALaterLaunchReadsBack) {
    TempDir dir;
    SessionStore store(dir / "sub/session.json");
    Saved saved{Doc{"/home/u/notes", "QUJD"},
                {{"/home/u/notes/a.md", std::nullopt}, {"/elsewhere/b.md", "AAEC"}},
                -1,
                {{1, 2, 3}, {-4, 0, 9000000000}}};
    store.save(saved);
    EXPECT_EQ(nlohmann::json::parse(TempDir::read(store.path())), nlohmann::json::parse(R"({
        "folder": {"path": "/home/u/notes", "bookmark": "QUJD"},
        "tabs": [{"path": "/home/u/notes/a.md", "bookmark": ""}, {"path": "/elsewhere/b.md", "bookmark": "AAEC"}],
        "active": -1,
        "views": [{"anchor": 1, "head": 2, "top": 3}, {"anchor": -4, "head": 0, "top": 9000000000}]})"));
    EXPECT_EQ(SessionStore(store.path()).load(), saved);

    // Without a folder the member is left out, not written as null.
    saved.folder.reset();
    saved.docs.clear();
    saved.views.clear();
    store.save(saved);
    nlohmann::json written = nlohmann::json::parse(TempDir::read(store.path()));
    EXPECT_FALSE(written.contains("folder"));
    EXPECT_EQ(store.load(), saved);
}

}  // namespace
