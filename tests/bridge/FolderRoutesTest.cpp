// The open folder through the Bridge: opening, GET /api/tree with its limits
// and busy answers, closing, and the watcher telling the page.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/TemporaryNames.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/StaleTemporary.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Opens a folder the way the page does: the folder panel, answered by script.
void open(BridgeHarness& h, const std::string& folder) {
    h.platform.panelAnswers.push_back({true, {folder}});
    Answer answer = h.request("POST", "/api/choose-folder");
    ASSERT_EQ(answer.status, 200);
    ASSERT_EQ(answer.json()["folder"], folder);
}

std::vector<std::string> paths(const nlohmann::json& tree) {
    std::vector<std::string> found;
    for (const auto& file : tree["files"]) found.push_back(file["path"]);
    return found;
}

// Holds every listing that resolves a link until released, so a test can act
// while a listing is under way. Waits are bounded so a fault fails, not hangs.
class ListingGate {
public:
    ListingGate() {
        Files::testSeams().beforeDisk = [this](const std::string&) {
            std::unique_lock lock(mutex_);
            entered_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 20s, [this] { return released_; });
        };
    }
    ~ListingGate() {
        release();
        Files::testSeams().beforeDisk = nullptr;
    }
    bool entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

TEST(Tree, NoFolderOpenAnswersAnEmptyTree) {
    BridgeHarness h;
    Answer answer = h.request("GET", "/api/tree");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), nlohmann::json::parse(R"({"folder": null, "files": [], "truncated": false})"));
}

TEST(Tree, ListsTheOpenFolderByItsRealPath) {
    BridgeHarness h;
    h.dir.write("real/b.md", "x");
    h.dir.write("real/sub/a.md", "x");
    h.dir.write("real/node_modules/x.md", "x");
    fs::create_directory_symlink(h.dir / "real", h.dir / "alias");
    open(h, h.dir / "alias");
    auto tree = h.request("GET", "/api/tree").json();
    EXPECT_EQ(tree["folder"], fs::canonical(h.dir / "real").string());
    EXPECT_EQ(tree["files"], nlohmann::json::parse(R"([{"path": "b.md", "offline": false},
                                                         {"path": "sub/a.md", "offline": false}])"));
    EXPECT_EQ(tree["truncated"], false);
    // Open Recent remembers the folder as it was chosen.
    auto recent = h.request("GET", "/api/recent").json()["items"];
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0]["kind"], "folder");
    EXPECT_EQ(recent[0]["path"], h.dir / "alias");
}

TEST(Tree, AnswerIsTheCanonicalJSONWhateverTheNames) {
    BridgeHarness h;
    std::vector<std::string> names{"say \"hi\".md", "tab\there.md", "\x01.md", "\xC3\xA9t\xC3\xA9.md"};
    for (const auto& name : names) h.dir.write("docs/" + name, "x");
    open(h, h.dir / "docs");
    Answer answer = h.request("GET", "/api/tree");
    EXPECT_EQ(answer.headers["Content-Type"], "application/json");
    // Written by hand for speed, it must read back to the same paths and be
    // byte for byte what the JSON library writes.
    EXPECT_EQ(answer.body, answer.json().dump());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(paths(answer.json()), names);
}

std::string numbered(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "n%05d.md", i);
    return name;
}

TEST(Tree, FiveThousandAndOneDocumentsKeepTheFirstFiveThousand) {
    BridgeHarness h;
    std::vector<std::string> all;
    for (int i = 0; i < 5001; ++i) {
        all.push_back("d" + std::to_string(i % 7) + "/" + numbered(i));
        h.dir.write("docs/" + all.back(), "");
    }
    open(h, h.dir / "docs");
    auto tree = h.request("GET", "/api/tree").json();
    // All 5001 were found before the cut, so the one left out is the last in order.
    std::sort(all.begin(), all.end());
    all.pop_back();
    EXPECT_EQ(paths(tree), all);
    EXPECT_TRUE(tree["truncated"]);
}

TEST(Tree, HiddenFolderDocumentsOnlyFillTheRoomLeft) {
    BridgeHarness h;
    for (int i = 0; i < 4990; ++i) h.dir.write("docs/" + numbered(i), "");
    for (int i = 0; i < 20; ++i) h.dir.write("docs/.notes/" + numbered(i), "");
    open(h, h.dir / "docs");
    auto tree = h.request("GET", "/api/tree").json();
    auto listed = paths(tree);
    ASSERT_EQ(listed.size(), 5000u);
    EXPECT_TRUE(tree["truncated"]);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(listed[static_cast<size_t>(i)], ".notes/" + numbered(i));
    EXPECT_EQ(listed[10], numbered(0));
    EXPECT_EQ(listed.back(), numbered(4989));
}

TEST(Tree, SecondRequestWhileListingIsBusy) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    fs::create_symlink("a.md", h.dir / "docs/l.md");
    open(h, h.dir / "docs");
    ListingGate gate;
    auto first = h.task("GET", "/api/tree", std::string(), h.tokenHeaders());
    h.bridge->start(first);
    ASSERT_TRUE(h.pumpUntil([&] { return gate.entered(); }));

    Answer second = h.request("GET", "/api/tree");
    EXPECT_EQ(second.status, 503);
    EXPECT_EQ(second.json(), nlohmann::json::parse(R"({"error": "still listing the folder", "busy": true})"));

    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return first->answer.has_value(); }));
    Answer done = *first->answer;
    EXPECT_EQ(done.status, 200);
    EXPECT_EQ(paths(done.json()), (std::vector<std::string>{"a.md", "l.md"}));
    // Once it is done, the folder may be listed again.
    EXPECT_EQ(h.request("GET", "/api/tree").status, 200);
}

TEST(Tree, ClosingWhileListingDropsTheListing) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    fs::create_symlink("a.md", h.dir / "docs/l.md");
    open(h, h.dir / "docs");
    ListingGate gate;
    auto listing = h.task("GET", "/api/tree", std::string(), h.tokenHeaders());
    h.bridge->start(listing);
    ASSERT_TRUE(h.pumpUntil([&] { return gate.entered(); }));

    EXPECT_EQ(h.request("POST", "/api/close-folder").json(), nlohmann::json::parse(R"({"folder": null})"));
    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return listing->answer.has_value(); }));
    Answer dropped = *listing->answer;
    EXPECT_EQ(dropped.status, 503);
    EXPECT_EQ(dropped.json(),
              nlohmann::json::parse(R"({"error": "the folder changed while it was listed", "busy": true})"));
    EXPECT_EQ(h.request("GET", "/api/tree").json(),
              nlohmann::json::parse(R"({"folder": null, "files": [], "truncated": false})"));
    // Documents are addressed against the open folder, and there is none.
    Answer read = h.request("GET", "/api/file?path=a.md");
    EXPECT_EQ(read.status, 403);
    EXPECT_EQ(read.error(), "no folder is open");
    EXPECT_FALSE(h.bridge->folder().watcher()->snapshot().root);
}

TEST(Tree, ChangesOnDiskReachThePage) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "x");
    std::atomic<int> changed{0};
    h.bridge->onFolderChanged = [&] {
        EXPECT_TRUE(h.main.isCurrent());
        ++changed;
    };
    open(h, h.dir / "docs");
    h.dir.write("docs/b.md", "new");
    h.dir.write("docs/c.md", "new");
    ASSERT_TRUE(h.pumpUntil([&] { return changed > 0; }));

    // Opening another folder moves the watcher there.
    h.dir.write("other/x.md", "x");
    open(h, h.dir / "other");
    EXPECT_EQ(h.bridge->folder().watcher()->snapshot().root, fs::canonical(h.dir / "other").string());
}

// A temporary file a killed save would have left in `folder`.
std::string leftBehind(const std::string& folder, bool young = false) {
    return staleTemporary(folder, "half a save", young);
}

// The sweeps logged so far.
long sweeps(BridgeHarness& h) {
    auto messages = h.log.messages();
    return std::count_if(messages.begin(), messages.end(),
                         [](const std::string& line) { return line.find("stale temporary files") != std::string::npos; });
}

TEST(Sweep, OpeningAFolderAndLaunchingRemoveOnlyStaleTemporariesWithinReach) {
    BridgeHarness h;
    std::string docs = h.dir / "docs";
    std::string home = h.dir / "home";
    fs::create_directories(docs + "/sub");
    fs::create_directories(home + "/deep");
    std::string old = leftBehind(docs);
    std::string oldBelow = leftBehind(docs + "/sub");
    std::string young = leftBehind(docs, true);

    open(h, docs);
    ASSERT_TRUE(h.pumpUntil([&] { return sweeps(h) == 1; }));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_FALSE(fs::exists(oldBelow));
    EXPECT_TRUE(fs::exists(young));

    // At launch: the folders of Open Recent whole, a document's folder alone.
    h.dir.write("home/note.md", "note");
    h.bridge->io.sync([&] { h.bridge->recent().add("file", home + "/note.md"); });
    std::string again = leftBehind(docs + "/sub");
    std::string besideTheNote = leftBehind(home);
    std::string belowTheNote = leftBehind(home + "/deep");
    h.bridge->tidyAtLaunch();
    ASSERT_TRUE(h.pumpUntil([&] { return sweeps(h) == 3; }));
    EXPECT_FALSE(fs::exists(again));
    EXPECT_FALSE(fs::exists(besideTheNote));
    EXPECT_TRUE(fs::exists(belowTheNote));
    EXPECT_TRUE(fs::exists(young));
}

}  // namespace
