#include "core/DocumentRead.hpp"
#include "core/FileWrite.hpp"
#include "core/SafeSave.hpp"
#include "core/TemporaryNames.hpp"
#include "core/TemporarySweep.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::system_clock;

// Sets a file's (or a link's own) times two hours back: past the sweep's age.
void makeOld(const std::string& path) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = Clock::to_time_t(Clock::now() - std::chrono::hours(2));
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

bool exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

enum class Kind { file, folder, linkToOldFile, fileBehindLinkedFolder };

struct Planted {
    const char* what;
    std::string path;  // below the swept folder "docs"
    Kind kind;
    bool old;
    bool removed;
};

TEST(TemporarySweep, RemovesOnlyOldRegularFilesWithOurNames) {
    TempDir dir;
    const std::string docs = dir / "docs";
    auto ours = [] { return TemporaryNames::make(); };
    const std::string uuid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    const Planted planted[] = {
        {"an old orphan", ours(), Kind::file, true, true},
        {"an old orphan in a subfolder", "notes/" + ours(), Kind::file, true, true},
        {"an old orphan in a hidden folder", ".drafts/" + ours(), Kind::file, true, true},
        {"a young one", ours(), Kind::file, false, false},
        {"another prefix", ".other-" + uuid + ".tmp", Kind::file, true, false},
        {"our prefix without our random part", ".quillmarsh-.tmp", Kind::file, true, false},
        {"our prefix with another random part", ".quillmarsh-1234.tmp", Kind::file, true, false},
        {"a folder with our name", ours(), Kind::folder, true, false},
        {"a link with our name to an old file", ours(), Kind::linkToOldFile, true, false},
        {"inside node_modules", "node_modules/" + ours(), Kind::file, true, false},
        {"inside a secret folder", ".git/" + ours(), Kind::file, true, false},
        {"inside a heavy folder", ".cache/" + ours(), Kind::file, true, false},
        {"behind a link to a folder", "linked/" + ours(), Kind::fileBehindLinkedFolder, true, false},
    };
    fs::create_directories(docs);
    for (const auto& p : planted) {
        std::string path = docs + "/" + p.path;
        switch (p.kind) {
            case Kind::file: dir.write("docs/" + p.path, "half a save"); break;
            case Kind::folder: fs::create_directories(path); break;
            case Kind::linkToOldFile:
                dir.write("docs/target.md", "a document");
                makeOld(dir / "docs/target.md");
                fs::create_symlink(dir / "docs/target.md", path);
                break;
            case Kind::fileBehindLinkedFolder:
                dir.write("elsewhere/" + fs::path(p.path).filename().string(), "not below the folder");
                makeOld(dir / ("elsewhere/" + fs::path(p.path).filename().string()));
                fs::create_symlink(dir / "elsewhere", docs + "/linked");
                break;
        }
        if (p.old && p.kind != Kind::fileBehindLinkedFolder) makeOld(path);
    }

    auto counts = Files::sweepTemporaries(docs, Clock::now());
    EXPECT_EQ(counts.removed, 3);
    EXPECT_EQ(counts.young, 1);
    EXPECT_EQ(counts.locked, 0);
    EXPECT_FALSE(counts.incomplete);
    for (const auto& p : planted) EXPECT_EQ(exists(docs + "/" + p.path), !p.removed) << p.what;
    EXPECT_EQ(TempDir::read(dir / "docs/target.md"), "a document");
}

TEST(TemporarySweep, AFileWhoseLockIsHeldStaysUntilItIsLetGo) {
    TempDir dir;
    std::string orphan = dir.write("docs/" + TemporaryNames::make(), "half a save");
    makeOld(orphan);
    {
        // Another open file description of the file, as a living writer's would be.
        int writer = ::open(orphan.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(::flock(writer, LOCK_EX), 0);
        auto counts = Files::sweepTemporaries(dir / "docs", Clock::now());
        EXPECT_EQ(counts.locked, 1);
        EXPECT_EQ(counts.removed, 0);
        EXPECT_TRUE(exists(orphan));
        ::close(writer);
    }
    EXPECT_EQ(Files::sweepTemporaries(dir / "docs", Clock::now()).removed, 1);
    EXPECT_FALSE(exists(orphan));
}

TEST(TemporarySweep, TheEntryBudgetBoundsTheWalk) {
    TempDir dir;
    for (int i = 0; i < 4; ++i) makeOld(dir.write("docs/" + TemporaryNames::make(), "x"));
    auto counts = Files::sweepTemporaries(dir / "docs", Clock::now(), {.maxEntries = 2});
    EXPECT_TRUE(counts.incomplete);
    EXPECT_EQ(counts.removed, 2);
    EXPECT_EQ(Files::sweepTemporaries(dir / "docs", Clock::now()).removed, 2);
}

// The writers hold their lock from the create until the rename: a sweep that
// runs at that moment, with no age rule at all, still leaves the file alone.
TEST(TemporarySweep, WritersHoldTheLockUntilTheRename) {
    TempDir dir;
    ScopedEnv cache("XDG_CACHE_HOME", dir / "cache");
    const std::string docs = dir / "docs";
    const Files::SweepOptions anyAge{.minimumAge = std::chrono::seconds(0)};
    const std::pair<const char*, std::function<void()>> writers[] = {
        {"save", [&] { Files::save("new", docs + "/a.md", "new", {}); }},
        {"atomicReplace", [&] { ASSERT_TRUE(FileWrite::atomicReplace(docs + "/b.json", "{}")); }},
    };
    fs::create_directories(docs);
    for (const auto& [what, write] : writers) {
        SCOPED_TRACE(what);
        Files::SweepCounts during;
        auto sweep = FaultInjection::before(SysCall::rename, 1, [&] { during = Files::sweepTemporaries(docs, Clock::now(), anyAge); });
        auto place = FaultInjection::before(SysCall::renameNoReplace, 1, [&] { during = Files::sweepTemporaries(docs, Clock::now(), anyAge); });
        write();
        EXPECT_EQ(during.locked, 1);
        EXPECT_EQ(during.removed, 0);
    }
    EXPECT_EQ(TempDir::read(docs + "/a.md"), "new");
    EXPECT_EQ(TempDir::read(docs + "/b.json"), "{}");
}

// The lock helps the sweep; a save never depends on it.
TEST(TemporarySweep, ASaveGoesOnWhenTheLockCannotBeTaken) {
    TempDir dir;
    dir.write("docs/a.md", "old");
    FaultInjection noLocks(SysCall::flock, 1, ENOLCK, FaultInjection::Repeat::always);
    EXPECT_EQ(Files::save("new", dir / "docs/a.md", Files::version("old"), {}).version, Files::version("new"));
    EXPECT_GE(noLocks.failures(), 1);
    EXPECT_EQ(TempDir::read(dir / "docs/a.md"), "new");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir / "docs")) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"a.md"});
}

}  // namespace
