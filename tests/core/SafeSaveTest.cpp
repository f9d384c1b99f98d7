#include "core/Backups.hpp"
#include "core/FileWrite.hpp"
#include "core/Dispatch.hpp"
#include "core/DocumentRead.hpp"
#include "core/InterruptedSaves.hpp"
#include "core/SafeSave.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Refusal.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* const changedMessage = "the file was changed on disk since you opened it";
const char* const deletedMessage = "the file was deleted or moved on disk since you opened it";

// A folder of documents, a backup folder and a cache for the replacement
// route, all inside one temporary folder; the log goes to a file of its own.
struct SaveFixture {
    TempDir dir;
    LogCapture log;
    ScopedEnv cache{"XDG_CACHE_HOME", dir / "cache"};
    Backups backups{dir / "Backups"};

    std::string doc(const std::string& name = "a.md") const { return dir / ("docs/" + name); }
    std::string write(const std::string& bytes, const std::string& name = "a.md") const {
        return dir.write("docs/" + name, bytes);
    }
    std::vector<std::string> docsFolder() const { return names(dir / "docs"); }
    std::vector<std::string> backupFiles() const { return names(dir / "Backups"); }
    // What the replacement route left in the cache: it must clean up after itself.
    std::vector<std::string> cacheLeftovers() const { return names(dir / "cache/Quillmarsh"); }

    static std::vector<std::string> names(const std::string& folder) {
        std::vector<std::string> found;
        if (!fs::exists(folder)) return found;
        for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
};

ino_t inodeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_ino;
}

// --- outcomes of the checks before anything is written -----------------------

struct CheckCase {
    const char* name;
    std::optional<std::string> onDisk;  // the document before the save; none: absent
    std::string base;                   // "{disk}" stands for the version on disk
    bool overwrite;
    int status;  // 0: saved
    std::string message;
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

class SaveChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(SaveChecks, ConflictsRefuseAndLeaveTheDiskAlone) {
    SaveFixture f;
    const auto& c = GetParam();
    fs::create_directories(f.dir / "docs");
    if (c.onDisk) f.write(*c.onDisk);
    std::string base = c.base == "{disk}" ? Files::version(*c.onDisk) : c.base;

    if (c.status == 0) {
        auto saved = Files::save("new text", f.doc(), base, {.overwrite = c.overwrite, .backups = &f.backups});
        EXPECT_EQ(saved.version, Files::version("new text"));
        EXPECT_EQ(saved.route, "same folder");
        EXPECT_EQ(TempDir::read(f.doc()), "new text");
    } else {
        auto error = expectedRefusal([&] { Files::save("new text", f.doc(), base, {.overwrite = c.overwrite, .backups = &f.backups}); });
        EXPECT_EQ(error, BridgeError(c.status, c.message));
        if (c.onDisk) {
            EXPECT_EQ(TempDir::read(f.doc()), *c.onDisk);
        } else {
            EXPECT_FALSE(fs::exists(f.doc()));
        }
        EXPECT_TRUE(f.backupFiles().empty());
    }
    // Never a temporary file left beside the document.
    for (const auto& name : f.docsFolder()) EXPECT_EQ(name, "a.md");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveChecks,
    testing::Values(CheckCase{"newWithBaseNew", std::nullopt, "new", false, 0, ""},
                    CheckCase{"newWithEmptyBase", std::nullopt, "", false, 0, ""},
                    CheckCase{"sameBase", "old", "{disk}", false, 0, ""},
                    CheckCase{"staleBase", "changed by another program", Files::version("old"), false, 409, changedMessage},
                    CheckCase{"staleBaseOverwrite", "changed by another program", Files::version("old"), true, 0, ""},
                    CheckCase{"baseNewButExists", "old", "new", false, 409, changedMessage},
                    CheckCase{"emptyBaseButExists", "old", "", false, 409, changedMessage},
                    CheckCase{"deletedSinceRead", std::nullopt, Files::version("old"), false, 409, deletedMessage},
                    CheckCase{"deletedSinceReadOverwrite", std::nullopt, Files::version("old"), true, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Save, SizeLimitIsCheckedBeforeTheDisk) {
    SaveFixture f;
    fs::create_directories(f.dir / "docs");
    std::string largest(Files::maxBytes, 'x');
    EXPECT_EQ(Files::save(largest, f.doc(), "new", {.backups = &f.backups}).version, Files::version(largest));
    EXPECT_EQ(fs::file_size(f.doc()), static_cast<std::uintmax_t>(Files::maxBytes));

    // Once too large, not even a folder that does not exist is looked at.
    largest.push_back('x');
    EXPECT_EQ(expectedRefusal([&] { Files::save(largest, f.dir / "missing/b.md", "new", {.backups = &f.backups}); }),
              BridgeError(413, "file too large"));
}

// With helper threads and without (then the same steps run one after another).
TEST(Save, ARefusedLargeSaveTakesBackTheTemporaryFileItWroteAside) {
    ConcurrentQueue helpers("test.save.helpers", 4);
    for (Queue* queue : {static_cast<Queue*>(&helpers), static_cast<Queue*>(nullptr)}) {
        SCOPED_TRACE(queue ? "helpers" : "inline");
        SaveFixture f;
        f.write("changed by another program");
        std::string large(3 << 20, 'x');
        EXPECT_EQ(expectedRefusal([&] {
                      Files::save(large, f.doc(), Files::version("old"), {.backups = &f.backups, .helpers = queue});
                  }),
                  BridgeError(409, changedMessage));
        EXPECT_EQ(TempDir::read(f.doc()), "changed by another program");
        EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});

        auto saved = Files::save(large, f.doc(), Files::version("changed by another program"),
                                 {.backups = &f.backups, .helpers = queue});
        EXPECT_EQ(saved.version, Files::version(large));
        EXPECT_EQ(TempDir::read(f.doc()), large);
        EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
    }
}

// Descriptors of this process still open on the document or on a version of
// it that was replaced.
std::vector<std::string> openVersionsOf(const std::string& path) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        auto target = fs::read_symlink(entry.path(), error).string();
        if (!error && (target == path || target == path + " (deleted)")) found.push_back(entry.path());
    }
    return found;
}

TEST(Save, TheReplacedVersionIsLetGoOnceTheSaveIsDone) {
    ConcurrentQueue helpers("test.save.helpers", 4);
    // A large document with helpers and without (then closed on this thread).
    const std::pair<std::size_t, Queue*> cases[] = {
        {4, &helpers}, {std::size_t{3} << 20, &helpers}, {std::size_t{3} << 20, nullptr}};
    for (auto [size, queue] : cases) {
        SaveFixture f;
        f.write("old");
        Files::save(std::string(size, 'n'), f.doc(), Files::version("old"), {.backups = &f.backups, .helpers = queue});
        // Closed on a helper after the save: wait for it, within bounds.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!openVersionsOf(f.doc()).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(openVersionsOf(f.doc()), std::vector<std::string>{}) << size;

        // A refused save lets go at once.
        f.write("theirs");
        expectedRefusal([&] { Files::save("mine", f.doc(), Files::version("old"), {.backups = &f.backups}); });
        EXPECT_EQ(openVersionsOf(f.doc()), std::vector<std::string>{});
    }
}

TEST(Save, TheFolderMustExistAndTheTargetMustNotBeAFolder) {
    SaveFixture f;
    EXPECT_EQ(expectedRefusal([&] { Files::save("x", f.dir / "missing/a.md", "new", {.backups = &f.backups}); }),
              BridgeError(400, "the folder does not exist"));
    f.dir.write("file", "");
    EXPECT_EQ(expectedRefusal([&] { Files::save("x", f.dir / "file/a.md", "new", {.backups = &f.backups}); }),
              BridgeError(400, "the folder does not exist"));
    fs::create_directories(f.doc());
    EXPECT_EQ(expectedRefusal([&] { Files::save("x", f.doc(), "new", {.overwrite = true, .backups = &f.backups}); }),
              BridgeError(404, "the file no longer exists"));
}

TEST(Save, AnUnreadableTargetIsNeverTakenForAbsent) {
    SaveFixture f;
    fs::create_directories(f.dir / "docs");
    fs::create_symlink(f.doc("b.md"), f.doc("a.md"));
    fs::create_symlink(f.doc("a.md"), f.doc("b.md"));
    EXPECT_EQ(expectedRefusal([&] { Files::save("x", f.doc(), "new", {.overwrite = true, .backups = &f.backups}); }),
              BridgeError(500, "could not read the file: Too many levels of symbolic links"));
    EXPECT_TRUE(fs::is_symlink(f.doc()));
}

TEST(Save, BackupsKeepWhatThisProcessDidNotWrite) {
    SaveFixture f;
    f.write("from an earlier session");

    // First save of the session: the version on disk is kept.
    auto first = Files::save("mine 1", f.doc(), Files::version("from an earlier session"), {.backups = &f.backups});
    ASSERT_TRUE(first.backup);
    EXPECT_EQ(TempDir::read(*first.backup), "from an earlier session");

    // Our own version again: nothing to keep.
    auto second = Files::save("mine 2", f.doc(), first.version, {.backups = &f.backups});
    EXPECT_FALSE(second.backup);

    // Another program edits; the user overwrites: its version is kept.
    f.write("theirs");
    auto third = Files::save("mine 3", f.doc(), second.version, {.overwrite = true, .backups = &f.backups});
    ASSERT_TRUE(third.backup);
    EXPECT_EQ(TempDir::read(*third.backup), "theirs");
    EXPECT_EQ(f.backupFiles().size(), 2u);

    // Without a backup keeper there is never a backup.
    f.write("theirs again");
    EXPECT_FALSE(Files::save("mine 4", f.doc(), "", {.overwrite = true}).backup);
    EXPECT_EQ(f.backupFiles().size(), 2u);
}

TEST(Save, TheAnswerNamesTheRouteAndTheBackup) {
    SaveFixture f;
    f.write("old");
    auto saved = Files::save("new", f.doc(), Files::version("old"), {.backups = &f.backups});
    EXPECT_EQ(saved.version, Files::version("new"));
    EXPECT_EQ(saved.route, "same folder");
    ASSERT_TRUE(saved.backup);
    EXPECT_EQ(TempDir::read(*saved.backup), "old");

    auto again = Files::save("newer", f.doc(), saved.version, {.viaReplacementFolder = true, .backups = &f.backups});
    EXPECT_EQ(again.route, "replacement folder");
    EXPECT_FALSE(again.backup);

    // A refused save keeps no copy.
    EXPECT_THROW(Files::save("newest", f.doc(), "stale", {.backups = &f.backups}), BridgeError);
    EXPECT_EQ(f.backupFiles().size(), 1u);
    EXPECT_EQ(TempDir::read(f.doc()), "newer");
}

TEST(Save, TheDocumentsPermissionsAreKept) {
    SaveFixture f;
    for (mode_t mode : {0600, 0640, 0444}) {
        f.write("old");
        ::chmod(f.doc().c_str(), mode);
        Files::save("new", f.doc(), Files::version("old"), {.backups = &f.backups});
        EXPECT_EQ(permissionsOf(f.doc()), mode);
    }
    // Through the replacement route too.
    ::chmod(f.doc().c_str(), 0600);
    Files::save("newer", f.doc(), Files::version("new"), {.viaReplacementFolder = true, .backups = &f.backups});
    EXPECT_EQ(permissionsOf(f.doc()), 0600u);
}

TEST(Save, ASavedDocumentAndItsFolderAreFlushedInThatOrder) {
    SaveFixture f;
    f.write("old");
    SysCallsGuard guard;
    std::vector<std::string> events;
    auto& sys = sysCalls();
    auto fsync = sys.fsync;
    auto rename = sys.rename;
    // What a descriptor is, asked of the descriptor: the folder is opened
    // outside the table (it is held from the path check on).
    sys.fsync = [&, fsync](int fd) {
        struct stat status {};
        ::fstat(fd, &status);
        auto name = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename().string();
        events.push_back(S_ISDIR(status.st_mode) ? "flush folder " + name : "flush file");
        return fsync(fd);
    };
    sys.rename = [&, rename](int fromFolder, const char* from, int toFolder, const char* to) {
        events.push_back("rename");
        return rename(fromFolder, from, toFolder, to);
    };
    Files::save("new", f.doc(), Files::version("old"), {});
    EXPECT_EQ(events, (std::vector<std::string>{"flush file", "rename", "flush folder docs"}));
}

TEST(Save, AFailedFolderFlushAfterTheRenameIsLoggedNotRefused) {
    SaveFixture f;
    f.write("old");
    {
        FaultInjection fail(SysCall::fsync, 2, EIO);  // the file, then the folder
        EXPECT_EQ(Files::save("new", f.doc(), Files::version("old"), {}).version,
                  Files::version("new"));
        EXPECT_EQ(fail.failures(), 1);
    }
    EXPECT_EQ(TempDir::read(f.doc()), "new");
    EXPECT_EQ(f.log.messages(), std::vector<std::string>{"save: folder not flushed after the rename, error 5"});
}

TEST(Save, AFailedFlushIsAFailedSaveAndIsNeverRetried) {
    SaveFixture f;
    f.write("old");
    FaultInjection fail(SysCall::fsync, 1, EIO);
    EXPECT_EQ(expectedRefusal([&] { Files::save("new", f.doc(), Files::version("old"), {}); }),
              BridgeError(500, "not saved: Input/output error"));
    EXPECT_EQ(fail.calls(), 1);
    EXPECT_EQ(TempDir::read(f.doc()), "old");
    EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
}

TEST(Save, ADocumentThatAppearsWhileANewOneIsSavedIsLeftAlone) {
    SaveFixture f;
    fs::create_directories(f.dir / "docs");
    auto appear = FaultInjection::before(SysCall::renameNoReplace, 1, [&] { f.write("another program's"); });
    EXPECT_EQ(expectedRefusal([&] { Files::save("mine", f.doc(), "new", {.backups = &f.backups}); }),
              BridgeError(409, changedMessage));
    EXPECT_EQ(TempDir::read(f.doc()), "another program's");
    EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
}

TEST(Save, WithoutNoReplaceSupportANewDocumentIsStillPlaced) {
    SaveFixture f;
    fs::create_directories(f.dir / "docs");
    FaultInjection unsupported(SysCall::renameNoReplace, 1, EINVAL, FaultInjection::Repeat::always);
    Files::save("mine", f.doc(), "new", {.backups = &f.backups});
    EXPECT_EQ(TempDir::read(f.doc()), "mine");
    EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
}

// --- the replacement-folder route ---------------------------------------------

// A folder that takes no new names while its documents stay writable, as a
// folder without write permission would be for an ordinary user (the tests
// run as root, which no permission bit stops).
class NewNamesRefused {
public:
    NewNamesRefused(std::string folder, int error = EACCES) : folder_(std::move(folder)) {
        auto& sys = sysCalls();
        struct stat own {};
        ::stat(folder_.c_str(), &own);
        // A name in the folder: by path, or relative to a descriptor of it.
        auto inFolder = [folder = folder_, own](int at, const char* path) {
            if (at == AT_FDCWD) return FileWrite::parentFolder(path) == folder;
            struct stat held {};
            return ::fstat(at, &held) == 0 && held.st_ino == own.st_ino && held.st_dev == own.st_dev &&
                   std::string_view(path).find('/') == std::string_view::npos;
        };
        auto open = sys.open;
        sys.open = [=](int at, const char* path, int flags, mode_t mode) {
            if ((flags & O_CREAT) && inFolder(at, path)) return errno = error, -1;
            return open(at, path, flags, mode);
        };
        for (auto* rename : {&sys.rename, &sys.renameNoReplace}) {
            auto previous = *rename;
            *rename = [=](int fromFolder, const char* from, int toFolder, const char* to) {
                if (inFolder(toFolder, to)) return errno = error, -1;
                return previous(fromFolder, from, toFolder, to);
            };
        }
    }

private:
    SysCallsGuard guard_;
    std::string folder_;
};

TEST(SaveReplacementRoute, AFolderThatRefusesNewNamesFallsBackToWritingInPlace) {
    SaveFixture f;
    f.write("old");
    auto inode = inodeOf(f.doc());
    Files::Saved saved;
    {
        NewNamesRefused denied(f.dir / "docs");
        saved = Files::save("new", f.doc(), Files::version("old"), {.backups = &f.backups});
    }
    EXPECT_EQ(saved.route, "replacement folder");
    EXPECT_EQ(saved.version, Files::version("new"));
    ASSERT_TRUE(saved.backup);
    EXPECT_EQ(TempDir::read(*saved.backup), "old");
    EXPECT_EQ(TempDir::read(f.doc()), "new");
    EXPECT_EQ(inodeOf(f.doc()), inode);
    EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
    EXPECT_TRUE(f.cacheLeftovers().empty());
}

TEST(SaveReplacementRoute, OnlyPermissionErrorsFallBack) {
    SaveFixture f;
    f.write("old");
    for (int error : {EACCES, EPERM}) {
        NewNamesRefused denied(f.dir / "docs", error);
        auto saved = Files::save("new", f.doc(), Files::version(TempDir::read(f.doc())), {});
        EXPECT_EQ(saved.route, "replacement folder");
    }
    {
        NewNamesRefused denied(f.dir / "docs", EROFS);
        EXPECT_EQ(expectedRefusal([&] { Files::save("newer", f.doc(), Files::version("new"), {}); }),
                  BridgeError(500, "not saved: Read-only file system"));
    }
    EXPECT_EQ(TempDir::read(f.doc()), "new");
    EXPECT_TRUE(f.cacheLeftovers().empty());

    // A new document needs a new name in the folder: refused by either route.
    NewNamesRefused denied(f.dir / "docs");
    EXPECT_EQ(expectedRefusal([&] { Files::save("fresh", f.doc("b.md"), "new", {}); }),
              BridgeError(500, "not saved: Permission denied"));
    EXPECT_EQ(f.docsFolder(), std::vector<std::string>{"a.md"});
    EXPECT_TRUE(f.cacheLeftovers().empty());
}

TEST(SaveReplacementRoute, ShorterAndLongerTextsReplaceTheWholeDocument) {
    SaveFixture f;
    f.write("a rather long old text");
    Files::save("short", f.doc(), Files::version("a rather long old text"), {.viaReplacementFolder = true});
    EXPECT_EQ(TempDir::read(f.doc()), "short");
    Files::save("a much longer text than before", f.doc(), Files::version("short"), {.viaReplacementFolder = true});
    EXPECT_EQ(TempDir::read(f.doc()), "a much longer text than before");
    // A new document is moved into place from the private copy.
    Files::save("fresh", f.doc("b.md"), "new", {.viaReplacementFolder = true});
    EXPECT_EQ(TempDir::read(f.doc("b.md")), "fresh");
    EXPECT_TRUE(f.cacheLeftovers().empty());
}

// --- every write, flush, rename and close failed, once and for good -----------

enum class Scenario { overwriteOthers, createNew };

struct SweepCase {
    SysCall call;
    bool viaReplacementFolder;
    Scenario scenario;
    FaultInjection::Repeat repeat;
    // Large documents have their temporary file written while the version on
    // disk is checked: the same promises, on two threads.
    bool large = false;
};

std::string sweepName(const SweepCase& c) {
    return std::string(sysCallName(c.call)) + (c.large ? "_large" : "") +
           (c.viaReplacementFolder ? "_replacement" : "_sameFolder") +
           (c.scenario == Scenario::overwriteOthers ? "_overwrite" : "_create") +
           (c.repeat == FaultInjection::Repeat::once ? "_once" : "_always");
}

void PrintTo(const SweepCase& c, std::ostream* out) { *out << sweepName(c); }

class SaveFaults : public testing::TestWithParam<SweepCase> {};

// Writes that stop half-way, then fail for good: the document is cut off and
// the old bytes cannot go back. The whole new text must not be thrown away.
TEST(SaveReplacementRoute, ADocumentLeftCutOffKeepsTheNewTextForBackups) {
    SaveFixture f;
    f.write(std::string(100, 'o'));
    SysCallsGuard guard;
    auto write = sysCalls().write;
    int calls = 0;
    // The copy is written whole (first call); the document takes 10 bytes, then nothing more.
    sysCalls().write = [&](int fd, const void* data, size_t count) -> ssize_t {
        ++calls;
        if (calls == 1) return write(fd, data, count);
        if (calls == 2) return write(fd, data, std::min<size_t>(count, 10));
        errno = EIO;
        return -1;
    };
    std::string newText(100, 'n');
    auto error = expectedRefusal([&] { Files::save(newText, f.doc(), Files::version(std::string(100, 'o')), {.viaReplacementFolder = true}); });
    EXPECT_EQ(error.status, 500);
    ASSERT_EQ(f.cacheLeftovers().size(), 1u);
    auto copy = f.dir / ("cache/Quillmarsh/" + f.cacheLeftovers()[0] + "/a.md");
    EXPECT_EQ(TempDir::read(copy), newText);

    // The next start keeps it in Backups once the folder has settled.
    sysCalls().write = write;
    auto later = std::chrono::system_clock::now() + Files::settledAfter + std::chrono::minutes(1);
    EXPECT_EQ(Files::keepInterruptedSaves(f.backups, later), 1);
    ASSERT_EQ(f.backupFiles().size(), 1u);
    EXPECT_EQ(TempDir::read(f.dir / ("Backups/" + f.backupFiles()[0])), newText);
    EXPECT_TRUE(f.cacheLeftovers().empty());
}

TEST(SaveReplacementRoute, InterruptedSavesAreKeptOnlyWhenWholeAndSettled) {
    SaveFixture f;
    const std::string base = f.dir / "cache/Quillmarsh";
    auto copyIn = [&](const std::string& folder, const std::string& name, const std::string& bytes) {
        return f.dir.write("cache/Quillmarsh/" + folder + "/" + name, bytes);
    };
    auto whole = copyIn("save-whole", "plan.md", "whole text");
    fs::last_write_time(whole, fs::file_time_type::clock::now() - std::chrono::hours(2));
    copyIn("save-cut", ".partial", "cut of");
    copyIn("save-young", "young.md", "a save under way");
    copyIn("other", "other.md", "not a save folder");
    f.dir.write("elsewhere/linked.md", "behind a link");
    fs::create_symlink(f.dir / "elsewhere", base + "/save-link");

    auto now = std::chrono::system_clock::now();
    // Only folders that have been quiet for a while count as left behind.
    for (const char* old : {"save-whole", "save-cut", "other"}) {
        fs::last_write_time(base + "/" + old, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    EXPECT_EQ(Files::keepInterruptedSaves(f.backups, now), 1);
    ASSERT_EQ(f.backupFiles().size(), 1u);
    // Named after the document and the time of the copy.
    EXPECT_EQ(f.backupFiles()[0].substr(0, 13), "plan (backup ");
    EXPECT_EQ(TempDir::read(f.dir / ("Backups/" + f.backupFiles()[0])), "whole text");
    EXPECT_EQ(f.cacheLeftovers(), (std::vector<std::string>{"other", "save-link", "save-young"}));
    EXPECT_EQ(TempDir::read(f.dir / "elsewhere/linked.md"), "behind a link");
}

TEST_P(SaveFaults, NeverTornNeverLostNeverAFalseSuccess) {
    const auto& c = GetParam();
    const std::size_t scale = c.large ? 400 : 1;
    const std::string oldText(5000 * scale, 'o');
    const std::string newText = std::string(3000 * scale, 'n') + "end";  // shorter: the in-place route must cut
    bool exists = c.scenario == Scenario::overwriteOthers;
    // The base the page read is not what is on disk: the save must keep a backup.
    std::string base = exists ? Files::version("what the page read") : "new";

    // Large documents hand their side jobs to helper threads, as the Bridge does.
    ConcurrentQueue helpers("test.save.helpers", 4);
    auto run = [&](SaveFixture& f) {
        return Files::save(newText, f.doc(), base,
                           {.overwrite = true,
                            .viaReplacementFolder = c.viaReplacementFolder,
                            .backups = &f.backups,
                            .helpers = c.large ? &helpers : nullptr});
    };
    auto prepare = [&](SaveFixture& f) {
        fs::create_directories(f.dir / "docs");
        if (exists) f.write(oldText);
    };

    // How many calls of the kind a clean save makes.
    int total = 0;
    {
        SaveFixture f;
        prepare(f);
        FaultInjection counter(c.call, INT_MAX, EIO);
        run(f);
        total = counter.calls();
    }

    for (int nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE("failing call " + std::to_string(nth) + " of " + std::to_string(total));
        SaveFixture f;
        prepare(f);
        std::optional<Files::Saved> saved;
        std::optional<BridgeError> refused;
        {
            FaultInjection fail(c.call, nth, EIO, c.repeat);
            try {
                saved = run(f);
            } catch (const BridgeError& error) {
                refused = error;
            }
        }
        bool docExists = fs::exists(f.doc());
        std::string onDisk = docExists ? TempDir::read(f.doc()) : "";
        if (saved) {
            EXPECT_EQ(onDisk, newText);
            EXPECT_EQ(saved->version, Files::version(newText));
            // A backup was promised for the other program's version: it is there, whole.
            EXPECT_EQ(saved->backup.has_value(), exists);
            if (saved->backup) {
                EXPECT_EQ(TempDir::read(*saved->backup), oldText);
            }
        } else {
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->status, 500);
            EXPECT_EQ(refused->message.rfind("not saved: ", 0), 0u) << refused->message;
            if (exists) {
                EXPECT_EQ(onDisk, oldText);
            } else {
                EXPECT_FALSE(docExists);
            }
        }
        // A backup that exists is always complete.
        for (const auto& name : f.backupFiles()) EXPECT_EQ(TempDir::read(f.dir / ("Backups/" + name)), oldText);
        // Nothing left beside the document. The private copies are removed too,
        // unless removing is the very call that was made to fail.
        EXPECT_EQ(f.docsFolder(), docExists ? std::vector<std::string>{"a.md"} : std::vector<std::string>{});
        if (c.call != SysCall::unlink && c.call != SysCall::rmdir) {
            EXPECT_TRUE(f.cacheLeftovers().empty());
        }
    }
}

std::vector<SweepCase> sweepCases() {
    std::vector<SweepCase> cases;
    const SysCall calls[] = {SysCall::open,   SysCall::write, SysCall::fsync,  SysCall::rename,
                             SysCall::renameNoReplace, SysCall::close, SysCall::unlink, SysCall::rmdir,
                             SysCall::mkdir,  SysCall::fchmod, SysCall::chmod,  SysCall::ftruncate};
    for (SysCall call : calls)
        for (bool replacement : {false, true})
            for (Scenario scenario : {Scenario::overwriteOthers, Scenario::createNew})
                for (auto repeat : {FaultInjection::Repeat::once, FaultInjection::Repeat::always}) {
                    cases.push_back({call, replacement, scenario, repeat});
                    if (!replacement) cases.push_back({call, replacement, scenario, repeat, true});
                }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, SaveFaults, testing::ValuesIn(sweepCases()),
                         [](const auto& info) { return sweepName(info.param); });

}  // namespace
