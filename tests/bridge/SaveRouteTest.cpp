#include <gtest/gtest.h>

#include <filesystem>

#include "core/DocumentRead.hpp"
#include "core/TemporaryNames.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/ScopedEnv.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const notWhole = "not saved: the text did not arrive whole; nothing was written, try again";
const char* const changedMessage = "the file was changed on disk since you opened it";

// A Bridge with the folder "docs" open.
struct SaveHarness : BridgeHarness {
    SaveHarness() {
        fs::create_directories(dir / "docs");
        bridge->io.sync([this] { bridge->folder().set(dir / "docs"); });
    }

    Answer save(const std::string& query, const std::string& text, const std::string& base,
                HeaderMap extra = {}, std::optional<std::string> bytes = std::nullopt) {
        HeaderMap headers = tokenHeaders();
        headers["X-Quillmarsh-Bytes"] = bytes.value_or(std::to_string(text.size()));
        headers["X-Quillmarsh-Base-Version"] = base;
        for (auto& [name, value] : extra) headers[name] = value;
        return request("PUT", "/api/file" + query, text, headers);
    }

    std::string doc(const std::string& name = "a.md") const { return dir / ("docs/" + name); }
    std::vector<std::string> backupFiles() const {
        std::vector<std::string> names;
        if (!fs::exists(bridge->backupsFolder())) return names;
        for (const auto& entry : fs::directory_iterator(bridge->backupsFolder())) names.push_back(entry.path());
        return names;
    }
};

struct CountCase {
    const char* name;
    std::optional<std::string> bytes;  // none: no header at all
    const char* spelling;
    int status;
};

void PrintTo(const CountCase& c, std::ostream* out) { *out << c.name; }

class SaveByteCount : public testing::TestWithParam<CountCase> {};

TEST_P(SaveByteCount, MustMatchTheBodyBeforeTheDocumentIsLookedUp) {
    SaveHarness h;
    const auto& c = GetParam();
    HeaderMap headers = h.tokenHeaders();
    if (c.bytes) headers[c.spelling] = *c.bytes;
    // An unknown handle: only a body that arrived whole gets as far as 403.
    auto answer = h.request("PUT", "/api/file?file=f9", "twelve bytes", headers);
    EXPECT_EQ(answer.status, c.status);
    if (c.status == 400) {
        EXPECT_EQ(answer.error(), notWhole);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, SaveByteCount,
                         testing::Values(CountCase{"matching", "12", "X-Quillmarsh-Bytes", 403},
                                         CountCase{"lowerCaseSpelling", "12", "x-quillmarsh-bytes", 403},
                                         CountCase{"otherSpelling", "12", "X-QUILLMARSH-BYTES", 400},
                                         CountCase{"oneMore", "13", "X-Quillmarsh-Bytes", 400},
                                         CountCase{"words", "twelve", "X-Quillmarsh-Bytes", 400},
                                         CountCase{"missing", std::nullopt, "", 400}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveRoute, SavesByPathAndAnswersTheRealPathAndVersion) {
    SaveHarness h;
    h.dir.write("docs/real.md", "old");
    fs::create_symlink(h.doc("real.md"), h.doc("link.md"));
    auto answer = h.save("?file=&path=link.md", "new text", Files::version("old"));
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json(), (nlohmann::json{{"saved", h.doc("real.md")},
                                             {"bytes", 8},
                                             {"version", Files::version("new text")},
                                             {"backup", true}}));
    EXPECT_EQ(TempDir::read(h.doc("real.md")), "new text");
    // The line is written once the answer is out.
    EXPECT_TRUE(h.pumpUntil([&] { return !h.log.messages().empty(); }));
    EXPECT_EQ(h.log.messages(),
              std::vector<std::string>{"save: 8 bytes via same folder, earlier version kept in Backups"});
}

TEST(SaveRoute, SavesByHandleAndAnswersThePickedPath) {
    SaveHarness h;
    auto outside = h.dir.write("elsewhere/b.md", "old");
    h.bridge->io.sync([&] { h.bridge->handles().handle(outside); });
    auto answer = h.save("?file=f1", "new", Files::version("old"));
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json()["saved"], outside);
    EXPECT_EQ(TempDir::read(outside), "new");
    EXPECT_EQ(h.save("?file=f2", "x", "new").error(), "unknown file handle (use Open File again)");
}

TEST(SaveRoute, AnotherProgramsChangeIsRefusedUntilOverwriteIsExactlyOne) {
    SaveHarness h;
    h.dir.write("docs/a.md", "theirs");
    std::string stale = Files::version("what the page read");

    for (auto value : {"true", "yes", "01"}) {
        auto answer = h.save("?path=a.md", "mine", stale, {{"X-Quillmarsh-Overwrite", value}});
        EXPECT_EQ(answer.status, 409) << value;
        EXPECT_EQ(answer.json(), (nlohmann::json{{"error", changedMessage}})) << value;
    }
    EXPECT_EQ(h.log.messages().back(), "save: refused 409");
    EXPECT_EQ(TempDir::read(h.doc()), "theirs");

    auto answer = h.save("?path=a.md", "mine", stale, {{"x-quillmarsh-overwrite", "1"}});
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json()["backup"], true);
    EXPECT_TRUE(h.pumpUntil([&] {
        return h.log.messages().back() == "save: 4 bytes via same folder, earlier version kept in Backups";
    }));
    ASSERT_EQ(h.backupFiles().size(), 1u);
    EXPECT_EQ(TempDir::read(h.backupFiles()[0]), "theirs");
}

TEST(SaveRoute, AConflictWithOurOwnVersionSaysSo) {
    SaveHarness h;
    ASSERT_EQ(h.save("?path=a.md", "first", "new").status, 200);
    // The page never saw that answer and still sends "new" as its base.
    auto answer = h.save("?path=a.md", "second", "new");
    EXPECT_EQ(answer.status, 409);
    EXPECT_EQ(answer.json(), (nlohmann::json{{"error", changedMessage}, {"byThisApp", true}}));

    // Once another program writes, the conflict is theirs.
    h.dir.write("docs/a.md", "theirs");
    EXPECT_EQ(h.save("?path=a.md", "second", "new").json(), (nlohmann::json{{"error", changedMessage}}));

    // A deleted document is a conflict nobody wrote.
    fs::remove(h.doc());
    EXPECT_EQ(h.save("?path=a.md", "second", Files::version("theirs")).json(),
              (nlohmann::json{{"error", "the file was deleted or moved on disk since you opened it"}}));
}

TEST(SaveRoute, SavesSentBackToBackRunInOrderWithoutASecondBackup) {
    SaveHarness h;
    h.dir.write("docs/a.md", "v0");
    HeaderMap headers = h.tokenHeaders();
    auto make = [&](const std::string& text, const std::string& base) {
        HeaderMap with = headers;
        with["X-Quillmarsh-Bytes"] = std::to_string(text.size());
        with["X-Quillmarsh-Base-Version"] = base;
        return h.task("PUT", "/api/file?path=a.md", text, with);
    };
    std::vector<std::shared_ptr<FakeTask>> tasks;
    std::string base = Files::version("v0");
    for (int i = 1; i <= 5; ++i) {
        std::string text = "v" + std::to_string(i);
        tasks.push_back(make(text, base));
        base = Files::version(text);
    }
    for (auto& task : tasks) h.bridge->start(task);
    ASSERT_TRUE(h.pumpUntil([&] {
        return std::all_of(tasks.begin(), tasks.end(), [](auto& task) { return task->answer.has_value(); });
    }));
    for (auto& task : tasks) EXPECT_EQ(task->answer->status, 200) << task->answer->body;
    EXPECT_EQ(TempDir::read(h.doc()), "v5");
    // Only the version from before this session was kept.
    EXPECT_EQ(h.backupFiles().size(), 1u);
}

// Threads of this process now.
std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

TEST(SaveRoute, SavesOfDifferentDocumentsOverlapOnAPoolThatStaysBounded) {
    SaveHarness h;
    // The save of a.md is held at its first look at the disk; b.md's save must
    // finish meanwhile.
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    Files::testSeams().beforeDisk = [&](const std::string& path) {
        if (!path.ends_with("/a.md")) return;
        std::unique_lock lock(mutex);
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };
    auto release = [&] {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    };
    HeaderMap headers = h.tokenHeaders();
    headers["X-Quillmarsh-Bytes"] = "1";
    headers["X-Quillmarsh-Base-Version"] = "new";
    auto a = h.task("PUT", "/api/file?path=a.md", "a", headers);
    h.bridge->start(a);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return held; }));
    }
    Answer b = h.save("?path=b.md", "b", "new");
    EXPECT_EQ(b.status, 200) << b.body;
    EXPECT_FALSE(a->answer.has_value());
    release();
    ASSERT_TRUE(h.pumpUntil([&] { return a->answer.has_value(); }));
    Files::testSeams().beforeDisk = nullptr;
    EXPECT_EQ(a->answer->status, 200) << a->answer->body;

    // 500 more documents, all at once: the threads of the process grow by
    // the save pools' bounds at most, not by one per document.
    std::size_t before = threadCount();
    std::vector<std::shared_ptr<FakeTask>> tasks;
    for (int i = 0; i < 500; ++i) tasks.push_back(h.task("PUT", "/api/file?path=n" + std::to_string(i) + ".md", "n", headers));
    std::size_t most = 0;
    for (auto& task : tasks) {
        h.bridge->start(task);
        most = std::max(most, threadCount());
    }
    ASSERT_TRUE(h.pumpUntil([&] {
        most = std::max(most, threadCount());
        return std::all_of(tasks.begin(), tasks.end(), [](auto& task) { return task->answer.has_value(); });
    }));
    for (auto& task : tasks) ASSERT_EQ(task->answer->status, 200) << task->answer->body;
    EXPECT_LE(most, before + 8);
    EXPECT_EQ(TempDir::read(h.doc("n499.md")), "n");
}

TEST(SaveRoute, RefusalsOfTheSavePassThrough) {
    SaveHarness h;
    std::string tooLarge(Files::maxBytes + 1, 'x');
    EXPECT_EQ(h.save("?path=a.md", tooLarge, "new").error(), "file too large");
    EXPECT_EQ(h.save("?path=missing/a.md", "x", "new").error(), "the folder does not exist");
    EXPECT_EQ(h.save("?path=a.txt", "x", "new").error(), "only .md and .markdown files");
    EXPECT_FALSE(fs::exists(h.doc()));
}

// Where the folder takes no new names the document is written in place, and
// for a moment holds part of the new text. Our own reads wait for the save.
TEST(SaveRoute, AReadDuringAnInPlaceSaveGetsAWholeVersion) {
    SaveHarness h;
    ScopedEnv cache("XDG_CACHE_HOME", h.dir / "cache");
    std::string old(64, 'o');
    std::string text(64, 'n');
    h.dir.write("docs/a.md", old);
    struct stat document {};
    ASSERT_EQ(::stat(h.doc().c_str(), &document), 0);

    SysCallsGuard guard;
    auto& sys = sysCalls();
    auto open = sys.open;
    sys.open = [open](int folder, const char* path, int flags, mode_t mode) {
        if ((flags & O_CREAT) && TemporaryNames::isOurTemporaryName(path)) return errno = EACCES, -1;
        return open(folder, path, flags, mode);
    };
    // The first write into the document stops half-way until released.
    std::mutex mutex;
    std::condition_variable changed;
    bool halfWritten = false, released = false;
    auto write = sys.write;
    sys.write = [&, write](int fd, const void* bytes, size_t count) -> ssize_t {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || status.st_ino != document.st_ino || count < 2) return write(fd, bytes, count);
        std::unique_lock lock(mutex);
        if (halfWritten) return write(fd, bytes, count);
        ssize_t done = write(fd, bytes, count / 2);
        halfWritten = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
        return done;
    };

    HeaderMap headers = h.tokenHeaders();
    headers["X-Quillmarsh-Bytes"] = std::to_string(text.size());
    headers["X-Quillmarsh-Base-Version"] = Files::version(old);
    auto save = h.task("PUT", "/api/file?path=a.md", text, headers);
    h.bridge->start(save);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return halfWritten; }));
    }
    ASSERT_NE(TempDir::read(h.doc()), old);  // torn on disk right now
    auto read = h.task("GET", "/api/file?path=a.md", std::string(), h.tokenHeaders());
    h.bridge->start(read);
    // The read may not answer while the document is torn.
    EXPECT_FALSE(h.main.runUntil([&] { return read->answer.has_value(); }, std::chrono::seconds(1)));
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    ASSERT_TRUE(h.pumpUntil([&] { return save->answer && read->answer; }));
    EXPECT_EQ(save->answer->status, 200);
    EXPECT_EQ(read->answer->body, text);
}

}  // namespace
