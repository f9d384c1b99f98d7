// Recovery endpoints: keeping unsaved text, listing, reading back, clearing,
// and finding an entry's document again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <thread>

#include "app/bridge/DocumentBookmarks.hpp"
#include "core/TemporaryNames.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/StaleTemporary.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct RecoveryFixture {
    BridgeHarness h;

    Answer keep(const json& body) { return h.request("POST", "/api/recovery", body.dump()); }
    Answer open(const std::string& id) { return h.request("POST", "/api/recovery/open", json{{"id", id}}.dump()); }
    json items() { return h.request("GET", "/api/recovery").json()["items"]; }
    std::string entryFile(const std::string& id) const { return h.dataHome() + "/Quillmarsh/recovery/" + id + ".json"; }
    json onDisk(const std::string& id) const { return json::parse(TempDir::read(entryFile(id))); }
    // The open folder; its real path, as the Bridge holds it.
    std::string openFolder(const std::string& name) {
        fs::create_directories(h.dir / name);
        h.bridge->io.sync([&] { h.bridge->folder().open(h.dir / name); });
        return fs::canonical(h.dir / name).string();
    }
    std::string handleOf(const std::string& path) {
        std::string handle;
        h.bridge->io.sync([&] { handle = h.bridge->handles().handle(path); });
        return handle;
    }
};

TEST(Recovery, AnUntitledTextIsKeptListedReadAndCleared) {
    RecoveryFixture f;
    EXPECT_EQ(f.items(), json::array());
    Answer kept = f.keep({{"id", "untitled-1"}, {"text", "draft\r\n\xC3\xA9"}, {"name", "Note"}, {"base", "new"}});
    EXPECT_EQ(kept.status, 200);
    EXPECT_EQ(kept.json(), json({{"kept", true}}));

    auto items = f.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["id"], "untitled-1");
    EXPECT_EQ(items[0]["name"], "Note");
    EXPECT_EQ(items[0]["location"], nullptr);
    EXPECT_EQ(items[0]["base"], "new");
    EXPECT_EQ(items[0]["size"], 7);
    EXPECT_EQ(f.h.request("GET", "/api/recovery/text?id=untitled-1").json(), json({{"text", "draft\r\n\xC3\xA9"}}));
    EXPECT_EQ(f.open("untitled-1").json(), json({{"gone", false}, {"name", "Note"}}));

    EXPECT_EQ(f.h.request("POST", "/api/recovery/clear", R"({"id": "untitled-1"})").json(), json({{"cleared", true}}));
    EXPECT_EQ(f.items(), json::array());
    Answer after = f.h.request("GET", "/api/recovery/text?id=untitled-1");
    EXPECT_EQ(after.status, 404);
    EXPECT_EQ(after.error(), "nothing to recover with that id");
}

TEST(Recovery, KeepingWithoutANameOrBaseUsesTheDefaults) {
    RecoveryFixture f;
    f.keep({{"id", "untitled-2"}, {"text", ""}, {"name", 5}, {"base", nullptr}});
    EXPECT_EQ(f.onDisk("untitled-2")["name"], "Untitled.md");
    EXPECT_EQ(f.onDisk("untitled-2")["base"], "");
    EXPECT_FALSE(f.onDisk("untitled-2").contains("location"));
}

struct RefusedCase {
    const char* name;
    std::string method;
    std::string path;
    std::string body;
    int status;
    std::string message;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }

class RecoveryRefusals : public testing::TestWithParam<RefusedCase> {};

TEST_P(RecoveryRefusals, AnswerTheirMessageAndKeepNothing) {
    RecoveryFixture f;
    const RefusedCase& c = GetParam();
    Answer answer = f.h.request(c.method, c.path, c.body);
    EXPECT_EQ(answer.status, c.status) << answer.body;
    EXPECT_EQ(answer.json(), json({{"error", c.message}}));
    EXPECT_FALSE(fs::exists(f.h.dataHome() + "/Quillmarsh/recovery"));
}

const std::string badId = "bad recovery id";
const std::string notObject = "recovery must be an object";

INSTANTIATE_TEST_SUITE_P(
    Recovery, RecoveryRefusals,
    testing::Values(
        RefusedCase{"KeepNotJSON", "POST", "/api/recovery", "text", 400, notObject},
        RefusedCase{"KeepArray", "POST", "/api/recovery", R"([{"id": "abcdef", "text": "x"}])", 400, notObject},
        RefusedCase{"KeepNoText", "POST", "/api/recovery", R"({"id": "abcdef"})", 400, notObject},
        RefusedCase{"KeepTextNotString", "POST", "/api/recovery", R"({"id": "abcdef", "text": 5})", 400, notObject},
        RefusedCase{"KeepFiveLetters", "POST", "/api/recovery", R"({"id": "abcde", "text": "x"})", 400, badId},
        RefusedCase{"KeepDot", "POST", "/api/recovery", R"({"id": "abc.def", "text": "x"})", 400, badId},
        RefusedCase{"KeepSlash", "POST", "/api/recovery", R"({"id": "abc/def", "text": "x"})", 400, badId},
        RefusedCase{"KeepNoId", "POST", "/api/recovery", R"({"text": "x"})", 400, badId},
        RefusedCase{"KeepLineBreak", "POST", "/api/recovery", R"({"id": "abcdef\n", "text": "x"})", 400, badId},
        RefusedCase{"KeepPathWithoutFolder", "POST", "/api/recovery", R"({"id": "abcdef", "text": "x", "path": "a.md"})",
                    403, "no folder is open"},
        RefusedCase{"TextFiveLetters", "GET", "/api/recovery/text?id=abcde", "", 400, badId},
        RefusedCase{"TextSlash", "GET", "/api/recovery/text?id=abc%2Fdef", "", 400, badId},
        RefusedCase{"TextNoId", "GET", "/api/recovery/text", "", 400, badId},
        RefusedCase{"TextUnknown", "GET", "/api/recovery/text?id=abcdef", "", 404, "nothing to recover with that id"},
        RefusedCase{"OpenDot", "POST", "/api/recovery/open", R"({"id": "abc.def"})", 400, badId},
        RefusedCase{"OpenNotJSON", "POST", "/api/recovery/open", "abcdef", 400, badId},
        RefusedCase{"OpenUnknown", "POST", "/api/recovery/open", R"({"id": "abcdef"})", 404,
                    "nothing to recover with that id"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Recovery, ClearNeverRefuses) {
    RecoveryFixture f;
    f.keep({{"id", "kept-entry"}, {"text", "x"}});
    for (std::string body : {R"({"id": "abcde"})", R"({"id": "../kept-entry"})", "not json", "[]", R"({"id": 5})", ""}) {
        Answer answer = f.h.request("POST", "/api/recovery/clear", body);
        EXPECT_EQ(answer.status, 200) << body;
        EXPECT_EQ(answer.json(), json({{"cleared", true}})) << body;
    }
    EXPECT_EQ(f.items().size(), 1u);
}

TEST(Recovery, AFolderRefusalOfThePathFailsTheKeep) {
    RecoveryFixture f;
    f.openFolder("docs");
    for (std::string path : {"../outside.md", ".git/a.md", "/etc/a.md", "a.txt"}) {
        Answer answer = f.keep({{"id", "abcdef"}, {"text", "x"}, {"path", path}});
        EXPECT_EQ(answer.status, 403) << path;
    }
    EXPECT_EQ(f.items(), json::array());
}

TEST(Recovery, NameAndBaseAreCutByCharacters) {
    RecoveryFixture f;
    // Each an "e" with a combining accent: three bytes, one character.
    std::string accented = "e\xCC\x81";
    std::string name, base;
    for (int i = 0; i < 300; ++i) name += accented;
    for (int i = 0; i < 200; ++i) base += accented;
    ASSERT_EQ(f.keep({{"id", "long-names"}, {"text", "x"}, {"name", name}, {"base", base}}).status, 200);
    json entry = f.onDisk("long-names");
    EXPECT_EQ(entry["name"], name.substr(0, 255 * accented.size()));
    EXPECT_EQ(entry["base"], base.substr(0, 128 * accented.size()));
    EXPECT_EQ(f.items()[0]["name"], name.substr(0, 255 * accented.size()));
}

TEST(Recovery, KeepingTwiceReplacesTheEntry) {
    RecoveryFixture f;
    f.keep({{"id", "twice-kept"}, {"text", "first"}, {"name", "a"}});
    long long first = f.onDisk("twice-kept")["savedAt"];
    f.keep({{"id", "twice-kept"}, {"text", "second"}, {"name", "b"}});
    auto items = f.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["name"], "b");
    EXPECT_GE(items[0]["savedAt"].get<long long>(), first);
    EXPECT_EQ(f.h.request("GET", "/api/recovery/text?id=twice-kept").json()["text"], "second");
}

TEST(Recovery, ADocumentInsideTheFolderOpensByItsPath) {
    RecoveryFixture f;
    std::string folder = f.openFolder("docs");
    f.h.dir.write("docs/notes/plan.md", "on disk");
    ASSERT_EQ(f.keep({{"id", "inside-1"}, {"text", "unsaved"}, {"path", "notes/plan.md"}, {"name", "plan.md"}}).status, 200);
    EXPECT_EQ(f.items()[0]["location"], folder + "/notes/plan.md");
    EXPECT_EQ(f.open("inside-1").json(), json({{"path", "notes/plan.md"}, {"name", "plan.md"}}));

    // Another folder open: the same document now lies outside it.
    f.openFolder("elsewhere");
    json outside = f.open("inside-1").json();
    EXPECT_EQ(outside["name"], "plan.md");
    EXPECT_TRUE(outside.contains("file")) << outside;
    EXPECT_FALSE(outside.contains("path")) << outside;
}

TEST(Recovery, ADocumentOutsideTheFolderOpensByOneHandle) {
    RecoveryFixture f;
    std::string doc = f.h.dir.write("outside/b.md", "on disk");
    std::string handle = f.handleOf(doc);
    ASSERT_EQ(f.keep({{"id", "outside-1"}, {"text", "unsaved"}, {"file", handle}}).status, 200);
    EXPECT_EQ(f.items()[0]["location"], doc);

    json first = f.open("outside-1").json();
    EXPECT_EQ(first, json({{"file", handle}, {"name", "b.md"}}));
    EXPECT_EQ(f.open("outside-1").json(), first);
    f.openFolder("docs");
    EXPECT_EQ(f.open("outside-1").json(), first);
}

TEST(Recovery, AnUnknownHandleKeepsTheTextWithoutADocument) {
    RecoveryFixture f;
    ASSERT_EQ(f.keep({{"id", "unknown-1"}, {"text", "x"}, {"file", "f99"}}).status, 200);
    EXPECT_EQ(f.items()[0]["location"], nullptr);
    EXPECT_EQ(f.open("unknown-1").json(), json({{"gone", false}, {"name", "Untitled.md"}}));
}

TEST(Recovery, ADeletedDocumentIsGoneAndItsEntryStays) {
    RecoveryFixture f;
    f.openFolder("docs");
    std::string doc = f.h.dir.write("docs/a.md", "x");
    f.keep({{"id", "deleted-1"}, {"text", "the only copy"}, {"path", "a.md"}, {"name", "a.md"}});
    fs::remove(doc);
    EXPECT_EQ(f.open("deleted-1").json(), json({{"gone", true}, {"name", "a.md"}}));
    // A folder in the document's place is not the document either.
    fs::create_directory(doc);
    EXPECT_EQ(f.open("deleted-1").json(), json({{"gone", true}, {"name", "a.md"}}));
    EXPECT_EQ(f.items().size(), 1u);
    EXPECT_EQ(f.h.request("GET", "/api/recovery/text?id=deleted-1").json()["text"], "the only copy");
}

// The desktop may take a while to make a bookmark, so the first keep goes on
// without one; a later keep stores it, and open then follows the document
// where the bookmark leads after a move.
TEST(Recovery, ABookmarkMadeInTheBackgroundFollowsAMovedDocument) {
    RecoveryFixture f;
    std::string folder = f.openFolder("docs");
    f.h.dir.write("docs/a.md", "x");
    f.h.bookmarks.makes[folder + "/a.md"] = "Qk0=";
    json body = {{"id", "moving-1"}, {"text", "x"}, {"path", "a.md"}};
    ASSERT_EQ(f.keep(body).status, 200);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!f.onDisk("moving-1").contains("bookmark") && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(f.keep(body).status, 200);
    }
    ASSERT_EQ(f.onDisk("moving-1")["bookmark"], "Qk0=");

    fs::create_directories(f.h.dir / "docs/moved");
    fs::rename(f.h.dir / "docs/a.md", f.h.dir / "docs/moved/b.md");
    f.h.bookmarks.leadsTo["Qk0="] = folder + "/moved/b.md";
    EXPECT_EQ(f.open("moving-1").json(), json({{"path", "moved/b.md"}, {"name", "b.md"}}));
}

// The desktop's bookmark making, held until the test lets it answer.
class HeldBookmarks final : public Bookmarks {
public:
    std::string make(const std::string&) override {
        std::unique_lock lock(mutex_);
        ++asked;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
        return answer_;
    }
    std::optional<std::string> resolve(const std::string&) override { return std::nullopt; }
    bool enterScope(const std::string&) override { return false; }
    void leaveScope(const std::string&) override {}

    void release(std::string answer) {
        std::lock_guard lock(mutex_);
        released_ = true;
        answer_ = std::move(answer);
        changed_.notify_all();
    }
    int timesAsked() {
        std::lock_guard lock(mutex_);
        return asked;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    std::string answer_;
    int asked = 0;
};

TEST(RecoveryBookmarks, OneIsMadeAtATimeAndOneNotMadeIsAskedForAgain) {
    HeldBookmarks desktop;
    // The disk queue goes first, so no answer is posted to a queue that is gone.
    SerialQueue io{"test.io"};
    ConcurrentQueue disk{"test.disk"};
    DocumentBookmarks bookmarks(desktop, disk, io);
    auto find = [&] {
        std::optional<std::string> found;
        io.sync([&] { found = bookmarks.find("/d/a.md"); });
        return found;
    };
    auto within = [](const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        return done();
    };
    // Keeps while the desktop is busy making it go on without and ask no more.
    EXPECT_EQ(find(), std::nullopt);
    EXPECT_EQ(find(), std::nullopt);
    ASSERT_TRUE(within([&] { return desktop.timesAsked() == 1; }));
    // None could be made: a later keep asks again.
    desktop.release("");
    ASSERT_TRUE(within([&] { return find(), desktop.timesAsked() >= 2; }));
    desktop.release("Qk0=");
    ASSERT_TRUE(within([&] { return find() == "Qk0="; }));
    int asked = desktop.timesAsked();
    EXPECT_EQ(find(), "Qk0=");
    EXPECT_EQ(desktop.timesAsked(), asked);
}

// A keep killed before its rename leaves a hidden 1 MiB temporary file among
// the entries, which nothing else would ever remove.
TEST(Recovery, TemporariesOfKilledKeepsAreSweptAtLaunch) {
    RecoveryFixture f;
    f.keep({{"id", "survivor"}, {"text", "x"}});
    const std::string folder = f.h.dataHome() + "/Quillmarsh/recovery";
    auto leftBehind = [&](bool young) { return staleTemporary(folder, "half a keep", young); };
    std::string old = leftBehind(false);
    std::string young = leftBehind(true);
    f.h.bridge->tidyAtLaunch();
    ASSERT_TRUE(f.h.pumpUntil([&] { return !fs::exists(old); }));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_EQ(f.h.request("GET", "/api/recovery/text?id=survivor").json()["text"], "x");
}

}  // namespace
