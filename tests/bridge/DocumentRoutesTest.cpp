#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <sys/stat.h>

#include "core/DocumentRead.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Handles are registered on io, where every caller runs.
std::string handleOn(Bridge& bridge, const std::string& path) {
    std::string handle;
    bridge.io.sync([&] { handle = bridge.handles().handle(path); });
    return handle;
}

void openFolder(BridgeHarness& h, const std::string& folder) {
    h.bridge->io.sync([&] { h.bridge->folder().set(folder); });
}

// Holds every disk access of the code under test at Files::testSeams().beforeDisk until
// released, counting them: for making requests meet while one is under way.
class DiskGate {
public:
    DiskGate() {
        Files::testSeams().beforeDisk = [this](const std::string&) {
            std::unique_lock lock(mutex_);
            ++entered_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        };
    }
    ~DiskGate() {
        release();
        Files::testSeams().beforeDisk = nullptr;
    }
    bool waitForEntered(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return entered_ >= count; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool open_ = false;
};

// Polls a condition on the Bridge's state with a bound, pumping the main queue.
bool eventually(BridgeHarness& h, const std::function<bool()>& done) { return h.pumpUntil(done); }

TEST(Handles, SamePathSameHandleNextPathNextNumber) {
    BridgeHarness h;
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/a.md"), "f1");
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/b.md"), "f2");
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/a.md"), "f1");
    // Another spelling of the same file is another document to the handles.
    EXPECT_EQ(handleOn(*h.bridge, "/elsewhere/./a.md"), "f3");
    EXPECT_EQ(h.bridge->handles().current()->at("f2"), "/elsewhere/b.md");
}

// --- GET /api/file -------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string query;
    bool folderOpen;
    int status;
    std::string expected;  // the body, or the error message
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class ReadFile : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadFile, AnswersTheBytesOrTheRefusal) {
    BridgeHarness h;
    const auto& c = GetParam();
    h.dir.write("docs/notes/plan.md", "# Plan");
    h.dir.write("docs/folder.md/inside.md", "");
    h.dir.write("elsewhere/picked.md", "picked bytes");
    if (c.folderOpen) openFolder(h, h.dir / "docs");
    handleOn(*h.bridge, h.dir / "elsewhere/picked.md");

    auto answer = h.request("GET", "/api/file" + c.query);
    EXPECT_EQ(answer.status, c.status);
    if (c.status == 200) {
        EXPECT_EQ(answer.body, c.expected);
        EXPECT_EQ(answer.headers["Content-Type"], "application/octet-stream");
        EXPECT_EQ(answer.headers["X-Quillmarsh-Version"], Files::version(c.expected));
    } else {
        EXPECT_EQ(answer.error(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadFile,
    testing::Values(ReadCase{"byPath", "?path=notes/plan.md", true, 200, "# Plan"},
                    ReadCase{"byHandleOutsideTheFolder", "?file=f1", false, 200, "picked bytes"},
                    ReadCase{"emptyHandleFallsBackToPath", "?file=&path=notes/plan.md", true, 200, "# Plan"},
                    ReadCase{"unknownHandle", "?file=f9&path=notes/plan.md", true, 403,
                             "unknown file handle (use Open File again)"},
                    ReadCase{"nothingNamedNoFolder", "", false, 403, "no folder is open"},
                    ReadCase{"nothingNamed", "", true, 403, "path must be relative to the folder"},
                    ReadCase{"leavesTheFolder", "?path=../elsewhere/picked.md", true, 403,
                             "path may not contain '..', '.', empty parts, hidden files or private folders"},
                    ReadCase{"aFolder", "?path=folder.md", true, 404, "the file no longer exists"},
                    ReadCase{"deleted", "?path=gone.md", true, 404, "the file no longer exists"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadFile, LocationIsThePercentEncodedRealPath) {
    BridgeHarness h;
    h.dir.write("docs/real name é.md", "x");
    fs::create_symlink(h.dir / "docs/real name é.md", h.dir / "docs/link.md");
    openFolder(h, h.dir / "docs");
    auto answer = h.request("GET", "/api/file?path=link.md");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.headers["X-Quillmarsh-Location"], (h.dir / "docs/real%20name%20%C3%A9.md"));
}

TEST(ReadFile, OnlyPathReadsAreRememberedInOpenRecent) {
    BridgeHarness h;
    auto inside = h.dir.write("docs/a.md", "a");
    auto outside = h.dir.write("elsewhere/b.md", "b");
    openFolder(h, h.dir / "docs");
    handleOn(*h.bridge, outside);

    ASSERT_EQ(h.request("GET", "/api/file?file=f1").status, 200);
    ASSERT_EQ(h.request("GET", "/api/file?path=a.md").status, 200);
    std::vector<Recent::Item> items;
    h.bridge->io.sync([&] { items = h.bridge->recent().items(); });
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, "file");
    EXPECT_EQ(items[0].path, inside);
}

TEST(ReadFile, RequestsThatMeetShareOneDiskRead) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "shared");
    openFolder(h, h.dir / "docs");
    DiskGate gate;

    auto first = h.task("GET", "/api/file?path=a.md", std::string(), h.tokenHeaders());
    auto second = h.task("GET", "/api/file?path=a.md", std::string(), h.tokenHeaders());
    h.bridge->start(first);
    ASSERT_TRUE(gate.waitForEntered(1));
    h.bridge->start(second);
    // The second request joins the read under way instead of starting one.
    ASSERT_TRUE(eventually(h, [&] { return h.bridge->documents().waitingFor("p:a.md") == 2; }));
    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return first->answer && second->answer; }));

    EXPECT_EQ(first->answer->body, "shared");
    EXPECT_EQ(second->answer->body, "shared");
    EXPECT_EQ(first->answer->headers, second->answer->headers);
    // One read: the path rules and the read each looked at the disk once.
    EXPECT_EQ(gate.entered(), 2);

    // The read left nothing behind: the next request reads afresh.
    h.dir.write("docs/a.md", "changed");
    EXPECT_EQ(h.request("GET", "/api/file?path=a.md").body, "changed");
}

TEST(ReadFile, AFailedReadAnswersEveryWaitingRequestWithTheSameError) {
    BridgeHarness h;
    openFolder(h, h.dir / "docs");
    fs::create_directories(h.dir / "docs");
    DiskGate gate;
    auto first = h.task("GET", "/api/file?path=gone.md", std::string(), h.tokenHeaders());
    auto second = h.task("GET", "/api/file?path=gone.md", std::string(), h.tokenHeaders());
    h.bridge->start(first);
    ASSERT_TRUE(gate.waitForEntered(1));
    h.bridge->start(second);
    ASSERT_TRUE(eventually(h, [&] { return h.bridge->documents().waitingFor("p:gone.md") == 2; }));
    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return first->answer && second->answer; }));
    EXPECT_EQ(first->answer->status, 404);
    EXPECT_EQ(second->answer->body, first->answer->body);
    EXPECT_FALSE(h.bridge->documents().reading());
}

TEST(ReadFile, AnEmptyHandleNeverJoinsAnotherDocumentsRead) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "a text");
    h.dir.write("docs/b.md", "b text");
    openFolder(h, h.dir / "docs");
    DiskGate gate;
    auto a = h.task("GET", "/api/file?file=&path=a.md", std::string(), h.tokenHeaders());
    auto b = h.task("GET", "/api/file?file=&path=b.md", std::string(), h.tokenHeaders());
    h.bridge->start(a);
    ASSERT_TRUE(gate.waitForEntered(1));
    h.bridge->start(b);
    // b's read starts on its own: both reach the disk.
    ASSERT_TRUE(gate.waitForEntered(2));
    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return a->answer && b->answer; }));
    EXPECT_EQ(a->answer->body, "a text");
    EXPECT_EQ(b->answer->body, "b text");
}

TEST(ReadFile, PipesNamedLikeDocumentsNeitherHangNorBlockOtherWork) {
    BridgeHarness h;
    fs::create_directories(h.dir / "docs");
    h.dir.write("docs/a.md", "a text");
    openFolder(h, h.dir / "docs");
    // More pipes than the disk queue has threads: each would have held one.
    std::vector<std::shared_ptr<FakeTask>> reads;
    for (int i = 0; i < 20; ++i) {
        std::string name = "p" + std::to_string(i) + ".md";
        ASSERT_EQ(::mkfifo((h.dir / ("docs/" + name)).c_str(), 0600), 0);
        reads.push_back(h.task("GET", "/api/file?path=" + name, std::string(), h.tokenHeaders()));
        h.bridge->start(reads.back());
    }
    ASSERT_TRUE(h.pumpUntil([&] {
        return std::all_of(reads.begin(), reads.end(), [](const auto& task) { return task->answer.has_value(); });
    }));
    for (const auto& task : reads) EXPECT_EQ(task->answer->status, 404);
    EXPECT_EQ(h.request("GET", "/api/file?path=a.md").body, "a text");

    // A save onto a pipe is refused, and lets the next save of that name go.
    HeaderMap headers = h.tokenHeaders();
    headers["X-Quillmarsh-Bytes"] = "3";
    headers["X-Quillmarsh-Base-Version"] = "new";
    EXPECT_EQ(h.request("PUT", "/api/file?path=p0.md", "new", headers).status, 404);
    EXPECT_EQ(h.request("PUT", "/api/file?path=p0.md", "new", headers).status, 404);
    EXPECT_EQ(h.request("PUT", "/api/file?path=b.md", "new", headers).status, 200);
}

// --- POST /api/versions ----------------------------------------------------------

nlohmann::json check(BridgeHarness& h, const nlohmann::json& body) {
    auto answer = h.request("POST", "/api/versions", body.is_string() ? body.get<std::string>() : body.dump());
    EXPECT_EQ(answer.status, 200);
    return answer.json();
}

TEST(Versions, ReportsEachDocumentsStateByKey) {
    BridgeHarness h;
    h.dir.write("docs/a.md", "a text");
    h.dir.write("docs/b.md", "b text");
    fs::create_directories(h.dir / "docs/dir.md");
    auto outside = h.dir.write("elsewhere/c.md", "c text");
    fs::create_symlink(h.dir / "docs/a.md", h.dir / "docs/link.md");
    fs::create_symlink(outside, h.dir / "docs/out.md");
    openFolder(h, h.dir / "docs");
    handleOn(*h.bridge, outside);
    fs::remove(h.dir / "docs/b.md");

    auto answer = check(h, {{"items",
                             {{{"key", "a"}, {"path", "a.md"}},
                              {{"key", 7}, {"file", "f1"}},
                              {{"key", "deleted"}, {"path", "b.md"}},
                              {{"key", "folder"}, {"path", "dir.md"}},
                              {{"key", "unknownHandle"}, {"file", "f5"}, {"path", "a.md"}},
                              {{"key", "refused"}, {"path", "../elsewhere/c.md"}},
                              {{"key", "link"}, {"path", "link.md"}},
                              {{"key", "linkOut"}, {"path", "out.md"}},
                              {{"path", "a.md"}},
                              {{"key", true}, {"path", "nothing.md"}},
                              {{"key", "dup"}, {"path", "a.md"}},
                              {{"key", "dup"}, {"path", "b.md"}}}}});
    EXPECT_EQ(answer, (nlohmann::json{{"versions",
                                       {{"a", Files::version("a text")},
                                        {"7", Files::version("c text")},
                                        {"deleted", "missing"},
                                        {"folder", "missing"},
                                        {"unknownHandle", "missing"},
                                        {"refused", "missing"},
                                        {"link", Files::version("a text")},
                                        {"linkOut", "missing"},
                                        // no key and a key of another type: the empty text
                                        {"", "missing"},
                                        {"dup", "missing"}}}}));
}

TEST(Versions, BadBodiesGiveAnEmptyAnswer) {
    BridgeHarness h;
    for (auto body : {nlohmann::json("not json"), nlohmann::json::array(), nlohmann::json{{"items", 3}},
                      nlohmann::json{{"items", {{{"key", "a"}, {"path", "a.md"}}, 3}}}}) {
        EXPECT_EQ(check(h, body), (nlohmann::json{{"versions", nlohmann::json::object()}})) << body;
    }
}

TEST(Versions, OnlyTheFirst200ItemsCount) {
    BridgeHarness h;
    nlohmann::json items = nlohmann::json::array();
    for (int i = 0; i < 205; ++i) items.push_back({{"key", i}, {"path", "x.md"}});
    auto versions = check(h, {{"items", items}})["versions"];
    EXPECT_EQ(versions.size(), 200u);
    EXPECT_TRUE(versions.contains("199"));
    EXPECT_FALSE(versions.contains("200"));
}

TEST(Versions, UnchangedDocumentsAreNotReadAgainReplacedOnesAre) {
    BridgeHarness h;
    auto path = h.dir.write("elsewhere/a.md", "first");
    handleOn(*h.bridge, path);
    nlohmann::json body = {{"items", {{{"key", "a"}, {"file", "f1"}}}}};

    std::atomic<int> reads{0};
    Files::testSeams().beforeDisk = [&](const std::string&) { ++reads; };
    EXPECT_EQ(check(h, body)["versions"]["a"], Files::version("first"));
    EXPECT_EQ(check(h, body)["versions"]["a"], Files::version("first"));
    EXPECT_EQ(reads, 1);

    // Same size, same modification time, but another file: read again.
    auto time = fs::last_write_time(path);
    h.dir.write("elsewhere/new.md", "other");
    fs::last_write_time(h.dir / "elsewhere/new.md", time);
    fs::rename(h.dir / "elsewhere/new.md", path);
    EXPECT_EQ(check(h, body)["versions"]["a"], Files::version("other"));
    EXPECT_EQ(reads, 2);
    Files::testSeams().beforeDisk = nullptr;
}

TEST(Versions, ADocumentThatCannotBeReadIsUnreadable) {
    BridgeHarness h;
    handleOn(*h.bridge, h.dir.write("elsewhere/a.md", "x"));
    Files::testSeams().beforeDisk = [](const std::string&) { throw BridgeError(500, "could not read the file: injected"); };
    auto versions = check(h, {{"items", {{{"key", "a"}, {"file", "f1"}}}}})["versions"];
    Files::testSeams().beforeDisk = nullptr;
    EXPECT_EQ(versions["a"], "unreadable");
    // Nothing cached: the next check reads it.
    EXPECT_EQ(check(h, {{"items", {{{"key", "a"}, {"file", "f1"}}}}})["versions"]["a"], Files::version("x"));
}

TEST(Versions, OneCheckAtATime) {
    BridgeHarness h;
    handleOn(*h.bridge, h.dir.write("elsewhere/a.md", "x"));
    DiskGate gate;
    auto first = h.task("POST", "/api/versions", R"({"items": [{"key": "a", "file": "f1"}]})", h.tokenHeaders());
    h.bridge->start(first);
    ASSERT_TRUE(gate.waitForEntered(1));

    auto second = h.request("POST", "/api/versions", "{}");
    EXPECT_EQ(second.status, 503);
    EXPECT_EQ(second.json(), (nlohmann::json{{"error", "still checking the open files"}, {"busy", true}}));

    gate.release();
    ASSERT_TRUE(h.pumpUntil([&] { return first->answer.has_value(); }));
    EXPECT_EQ(first->answer->status, 200);
    EXPECT_EQ(h.request("POST", "/api/versions", "{}").status, 200);
}

}  // namespace
