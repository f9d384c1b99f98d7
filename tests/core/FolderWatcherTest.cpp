// Folder watcher: which changes count, where watches are placed, the debounce
// on a hand-driven clock, and what running out of watches leaves behind.
#include "core/FolderWatcher.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Time that moves only when the test says so. Items run on the watcher's
// queue, in the order they fall due.
class ManualTimer final : public FolderWatcher::Timer {
public:
    void after(Queue& queue, Clock::duration delay, std::shared_ptr<WorkItem> item) override {
        std::lock_guard lock(mutex_);
        due_.emplace(now_ + delay, std::make_pair(&queue, std::move(item)));
    }

    void advance(Clock::duration step) {
        Clock::duration target;
        {
            std::lock_guard lock(mutex_);
            target = now_ + step;
        }
        for (;;) {
            std::pair<Queue*, std::shared_ptr<WorkItem>> next;
            {
                std::lock_guard lock(mutex_);
                if (due_.empty() || due_.begin()->first > target) {
                    now_ = target;
                    return;
                }
                now_ = due_.begin()->first;
                next = due_.begin()->second;
                due_.erase(due_.begin());
            }
            next.first->sync([item = next.second] { item->perform(); });
        }
    }

    Clock::duration now() {
        std::lock_guard lock(mutex_);
        return now_;
    }

private:
    std::mutex mutex_;
    Clock::duration now_{0};
    std::multimap<Clock::duration, std::pair<Queue*, std::shared_ptr<WorkItem>>> due_;
};

// Waits (bounded) until `done` holds.
bool eventually(const std::function<bool()>& done) {
    auto deadline = Clock::now() + 20s;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Changes a file's times without writing it: exactly one inotify event.
void touch(const std::string& path) {
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0) << path;
}

// A watcher on TempDir's "docs" with a hand-driven clock that counts callbacks.
struct Watched {
    Watched() {
        fs::create_directories(dir / "docs");
        root = fs::canonical(dir / "docs").string();
    }

    void start() { watcher.watch(root); }

    // Runs `change` and waits until the watcher has read `events` more events.
    void changeAndWait(const std::function<void()>& change, std::uint64_t events = 1) {
        std::uint64_t before = watcher.snapshot().eventsRead;
        change();
        ASSERT_TRUE(eventually([&] { return watcher.snapshot().eventsRead >= before + events; }));
    }

    std::set<std::string> folders() {
        auto list = watcher.snapshot().folders;
        std::set<std::string> relative;
        for (const auto& folder : list) relative.insert(folder == root ? "." : folder.substr(root.size() + 1));
        return relative;
    }

    TempDir dir;
    std::string root;
    ManualTimer timer;
    std::atomic<int> calls{0};
    FolderWatcher watcher{1s, [this] { ++calls; }, {300ms, &timer}};
};

// --- counts ---------------------------------------------------------------------

struct CountsCase {
    std::string name;
    std::string path;  // relative to the temporary folder; the root is "docs"
    bool counts;
    std::string root = "docs";
};

void PrintTo(const CountsCase& c, std::ostream* out) { *out << c.name; }

class CountsTable : public ::testing::TestWithParam<CountsCase> {};

TEST_P(CountsTable, DecidesWhatMattersToThePage) {
    const CountsCase& c = GetParam();
    TempDir dir;
    dir.write("docs/.DS_Store", "x");
    dir.write("docs/.quillmarsh-1234.tmp", "x");
    dir.write("docs/a.md", "x");
    fs::create_directories(dir / "docs/sub");
    fs::create_directories(dir / "docs/.obsidian");
    std::string path = c.path.starts_with("/") ? c.path : dir / c.path;
    EXPECT_EQ(FolderWatcher::counts(path, dir / c.root), c.counts);
}

INSTANTIATE_TEST_SUITE_P(
    FolderWatcher, CountsTable,
    ::testing::Values(CountsCase{"ADocument", "docs/a.md", true}, CountsCase{"AFolder", "docs/sub", true},
                      CountsCase{"TheRootItself", "docs", true},
                      CountsCase{"AFolderAboveTheRoot", "docs", true, "docs/inner"},
                      CountsCase{"ASiblingWithTheSamePrefix", "docsx/a.md", false},
                      CountsCase{"ANeighbourFolder", "other/a.md", false},
                      CountsCase{"VersionControlData", "docs/.git/index", false},
                      CountsCase{"InsideNodeModules", "docs/node_modules/x/y.js", false},
                      CountsCase{"AnExistingHiddenFile", "docs/.DS_Store", false},
                      CountsCase{"ASaveTemporaryFilePresent", "docs/.quillmarsh-1234.tmp", false},
                      CountsCase{"ASaveTemporaryFileAlreadyRenamed", "docs/.quillmarsh-5678.tmp", false},
                      CountsCase{"InsideAnOrdinaryHiddenFolder", "docs/.obsidian/workspace.json", true},
                      CountsCase{"AnExistingHiddenFolder", "docs/.obsidian", true},
                      CountsCase{"ADeletedHiddenFolder", "docs/.notes", true},
                      // Gone without a further dot, so it is taken for a folder.
                      CountsCase{"ADeletedHiddenFileWithoutDot", "docs/.gone", true},
                      CountsCase{"ASecretFolderOfTheConfig", "docs/.config/gcloud/key.json", false},
                      CountsCase{"SystemFormOfTheSamePath", "/private/tmp/docs/a.md", true, "/tmp/docs"},
                      CountsCase{"SystemFormOfAnotherPath", "/private/tmp/other/a.md", false, "/tmp/docs"}),
    [](const ::testing::TestParamInfo<CountsCase>& info) { return info.param.name; });

// --- where watches go ------------------------------------------------------------

TEST(FolderWatcher, WatchesEveryFolderWhereChangesCanCountAndNoOther) {
    Watched w;
    for (auto folder : {"sub/deep", "node_modules/pkg/lib", ".git/objects/ab", ".ssh", ".config/gcloud",
                        ".config/other", ".obsidian", ".venv/lib", "sub/node_modules/x"}) {
        fs::create_directories(w.dir / ("docs/" + std::string(folder)));
    }
    fs::create_directories(w.dir / "elsewhere");
    fs::create_directory_symlink(w.dir / "elsewhere", w.dir / "docs/linked");
    w.start();
    std::set<std::string> expected{".",       "sub", "sub/deep", ".config", ".config/other", ".obsidian",
                                   ".venv", ".venv/lib"};
    EXPECT_EQ(w.folders(), expected);

    // Folders made later get a watch, unless they are in a pruned place.
    fs::create_directories(w.dir / "docs/later/inner");
    ASSERT_TRUE(eventually([&] { return w.folders().count("later/inner") == 1; }));
    fs::create_directory(w.dir / "docs/later/node_modules");
    fs::create_directory(w.dir / "docs/later/.git");
    // Events are taken in order: once this one's folder is watched, the two
    // before it have been looked at too.
    fs::create_directory(w.dir / "docs/later/sentinel");
    ASSERT_TRUE(eventually([&] { return w.folders().count("later/sentinel") == 1; }));
    expected.insert({"later", "later/inner", "later/sentinel"});
    EXPECT_EQ(w.folders(), expected);

    // Removed or moved away: their watches go, the moved tree's included.
    fs::rename(w.dir / "docs/sub", w.dir / "elsewhere/sub");
    fs::remove_all(w.dir / "docs/later");
    ASSERT_TRUE(eventually([&] {
        return w.folders() == std::set<std::string>{".", ".config", ".config/other", ".obsidian", ".venv",
                                                    ".venv/lib"};
    }));
}

// --- the debounce -------------------------------------------------------------------

TEST(FolderWatcher, TenChangesApartGiveOneCallbackAfterTheQuietTime) {
    Watched w;
    w.dir.write("docs/a.md", "x");
    w.start();
    Clock::duration lastChange{};
    for (int i = 0; i < 10; ++i) {
        w.changeAndWait([&] { touch(w.dir / "docs/a.md"); });
        lastChange = w.timer.now();
        w.timer.advance(200ms);
        EXPECT_EQ(w.calls, 0) << "after change " << i;
    }
    // The last change is looked at when its batch ends (at most 0.3 s later),
    // and the callback follows after a full second of quiet.
    w.timer.advance(lastChange + 1s - w.timer.now());
    EXPECT_EQ(w.calls, 0);
    w.timer.advance(300ms);
    EXPECT_EQ(w.calls, 1);
    w.timer.advance(10s);
    EXPECT_EQ(w.calls, 1);
}

TEST(FolderWatcher, ChangesThatNeverCountWakeNobody) {
    Watched w;
    w.dir.write("docs/.DS_Store", "x");
    w.start();
    w.changeAndWait([&] { touch(w.dir / "docs/.DS_Store"); });
    w.changeAndWait([&] { fs::create_directory(w.dir / "docs/node_modules"); });
    w.changeAndWait([&] { fs::create_directory(w.dir / "docs/.git"); });
    w.timer.advance(10s);
    EXPECT_EQ(w.calls, 0);
}

TEST(FolderWatcher, ClosingWithinTheQuietTimeGivesNoCallback) {
    Watched w;
    w.dir.write("docs/a.md", "x");
    w.start();
    w.changeAndWait([&] { touch(w.dir / "docs/a.md"); });
    w.timer.advance(500ms);  // looked at, callback due in 0.8 s
    w.watcher.watch(std::nullopt);
    w.timer.advance(10s);
    EXPECT_EQ(w.calls, 0);
    EXPECT_FALSE(w.watcher.snapshot().root);
}

TEST(FolderWatcher, OpeningAnotherFolderDropsTheOldBurst) {
    Watched w;
    w.dir.write("docs/a.md", "x");
    fs::create_directories(w.dir / "second");
    w.start();
    w.changeAndWait([&] { touch(w.dir / "docs/a.md"); });
    w.timer.advance(500ms);
    w.watcher.watch(w.dir / "second");
    w.timer.advance(10s);
    EXPECT_EQ(w.calls, 0);
    EXPECT_EQ(w.watcher.snapshot().root, fs::canonical(w.dir / "second").string());
}

TEST(FolderWatcher, ChangesInANewSubfolderAreSeen) {
    Watched w;
    fs::create_directories(w.dir / "staging");
    w.dir.write("staging/new.md", "x");
    w.start();
    w.changeAndWait([&] { fs::create_directory(w.dir / "docs/sub"); });
    ASSERT_TRUE(w.folders().count("sub"));
    w.timer.advance(2s);
    EXPECT_EQ(w.calls, 1);
    // A rename into the new folder is one event, seen only through its own watch.
    w.changeAndWait([&] { fs::rename(w.dir / "staging/new.md", w.dir / "docs/sub/new.md"); });
    w.timer.advance(2s);
    EXPECT_EQ(w.calls, 2);
}

// --- switching folders ---------------------------------------------------------------

// The inotify instances this process holds open.
int inotifyInstances() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error).string() == "anon_inode:inotify") ++count;
    }
    return count;
}

// How many inotify instances one user may hold.
int instanceLimit() {
    int limit = 128;
    std::ifstream("/proc/sys/fs/inotify/max_user_instances") >> limit;
    return limit;
}

TEST(FolderWatcher, SwitchingFoldersWithChangesPendingLeavesNoInstanceBehind) {
    LogCapture log;
    Watched w;
    w.dir.write("docs/a.md", "x");
    w.dir.write("other/a.md", "x");
    const std::string folders[] = {w.root, fs::canonical(w.dir / "other").string()};
    const int before = inotifyInstances();
    // More switches than the user may hold instances, so a leak runs out before
    // the end; the count of open descriptors catches one where the limit is high.
    const int switches = std::min(instanceLimit(), 2000) + 8;
    for (int i = 0; i < switches; ++i) {
        const std::string& folder = folders[i % 2];
        w.watcher.watch(folder);
        ASSERT_EQ(w.watcher.snapshot().root, folder) << "switch " << i;
        // A batch gathering at every switch, every other time a callback due as well.
        if (i % 2) {
            w.changeAndWait([&] { touch(folder + "/a.md"); });
            w.timer.advance(500ms);
        }
        w.changeAndWait([&] { touch(folder + "/a.md"); });
    }
    EXPECT_TRUE(eventually([&] { return inotifyInstances() == before + 1; }))
        << inotifyInstances() - before << " instances open";
    EXPECT_EQ(log.messages(), std::vector<std::string>{});

    EXPECT_EQ(w.calls, 0);
    w.changeAndWait([&] { touch(folders[(switches - 1) % 2] + "/a.md"); });
    w.timer.advance(2s);
    EXPECT_EQ(w.calls, 1);
}

// --- the folder itself --------------------------------------------------------------

struct GoneCase {
    std::string name;
    std::function<void(const TempDir&)> change;
};

void PrintTo(const GoneCase& c, std::ostream* out) { *out << c.name; }

class FolderGone : public ::testing::TestWithParam<GoneCase> {};

TEST_P(FolderGone, IsNoticed) {
    TempDir dir;
    dir.write("parent/docs/a.md", "x");
    std::atomic<int> calls{0};
    // The real clock, with short waits: these changes come as several events.
    FolderWatcher watcher(20ms, [&] { ++calls; }, {10ms, nullptr});
    watcher.watch(dir / "parent/docs");
    GetParam().change(dir);
    EXPECT_TRUE(eventually([&] { return calls > 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    FolderWatcher, FolderGone,
    ::testing::Values(
        GoneCase{"Moved", [](const TempDir& d) { fs::rename(d / "parent/docs", d / "parent/docs2"); }},
        GoneCase{"Deleted", [](const TempDir& d) { fs::remove_all(d / "parent/docs"); }},
        GoneCase{"FolderAboveRenamed", [](const TempDir& d) { fs::rename(d / "parent", d / "parent2"); }}),
    [](const ::testing::TestParamInfo<GoneCase>& info) { return info.param.name; });

// --- out of watches ---------------------------------------------------------------------

class CallsGuard {
public:
    CallsGuard() : saved_(FolderWatcher::calls()) {}
    ~CallsGuard() { FolderWatcher::calls() = saved_; }

private:
    FolderWatcher::Calls saved_;
};

TEST(FolderWatcher, OutOfWatchesKeepsWhatItHasAndLogsOneLine) {
    LogCapture log;
    CallsGuard guard;
    Watched w;
    for (int i = 0; i < 5; ++i) fs::create_directories(w.dir / ("docs/f" + std::to_string(i)));
    w.dir.write("docs/a.md", "x");
    auto real = FolderWatcher::Calls::real();
    std::atomic<int> treeWatches{0};
    FolderWatcher::calls().addWatch = [&](int fd, const char* path, std::uint32_t mask) {
        if (std::string(path).starts_with(w.root) && ++treeWatches > 3) {
            errno = ENOSPC;
            return -1;
        }
        return real.addWatch(fd, path, mask);
    };
    w.start();
    auto snapshot = w.watcher.snapshot();
    EXPECT_EQ(snapshot.folders.size(), 3u);
    EXPECT_EQ(snapshot.leftOut, 3u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"watch: out of watches, 3 folders watched, 3 left out"});

    // Still useful: the root is watched, and one more miss adds no second line.
    w.changeAndWait([&] { fs::create_directory(w.dir / "docs/f9"); });
    w.changeAndWait([&] { touch(w.dir / "docs/a.md"); });
    w.timer.advance(2s);
    EXPECT_EQ(w.calls, 1);
    EXPECT_EQ(w.watcher.snapshot().leftOut, 4u);
    EXPECT_EQ(log.messages().size(), 1u);
}

TEST(FolderWatcher, NoInstanceLeftMeansIdleWithOneLine) {
    LogCapture log;
    CallsGuard guard;
    FolderWatcher::calls().init = [](int) {
        errno = EMFILE;
        return -1;
    };
    Watched w;
    w.start();
    EXPECT_FALSE(w.watcher.snapshot().root);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"watch: out of inotify instances, 0 folders watched"});
    w.watcher.watch(std::nullopt);  // stopping an idle watcher is fine
}

}  // namespace
