#include "core/FileWrite.hpp"
#include "core/JSONFile.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/TempDir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes accept at most a few bytes per call, as a pipe or a signal can make
// them do, so the N-th write of one file write is a real step of it.
class ShortWrites {
public:
    ShortWrites() {
        auto full = sysCalls().write;
        sysCalls().write = [full](int fd, const void* bytes, size_t count) {
            return full(fd, bytes, std::min<size_t>(count, 4));
        };
    }

private:
    SysCallsGuard guard_;
};

// The text the fault table writes: 12 bytes, so three short writes.
const std::string newText = "new contents";

struct Fault {
    SysCall call;
    int nth;
    int error;
};

std::string faultName(const testing::TestParamInfo<Fault>& info) {
    return std::string(sysCallName(info.param.call)) + std::to_string(info.param.nth);
}

// Every step before the rename: open, permissions, each write, fsync, close,
// and the rename itself.
const Fault faultsBeforeReplacing[] = {
    {SysCall::open, 1, EACCES},  {SysCall::fchmod, 1, EPERM}, {SysCall::write, 1, ENOSPC},
    {SysCall::write, 3, EIO},    {SysCall::fsync, 1, EIO},    {SysCall::close, 1, EIO},
    {SysCall::rename, 1, EXDEV},
};

class FailedReplace : public testing::TestWithParam<Fault> {
protected:
    TempDir dir;
    ShortWrites shortWrites;
};

TEST_P(FailedReplace, LeavesTheEarlierFileWholeAndNoTemporaryFile) {
    auto target = dir.write("state.json", "old contents");
    auto fault = GetParam();
    FaultInjection fail(fault.call, fault.nth, fault.error);

    auto result = FileWrite::atomicReplace(target, newText);

    EXPECT_FALSE(result);
    EXPECT_EQ(result.error, fault.error);
    EXPECT_EQ(result.failed, fault.call);
    EXPECT_EQ(fail.failures(), 1);
    EXPECT_EQ(TempDir::read(target), "old contents");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"state.json"});
}

TEST_P(FailedReplace, InJSONFileSaveLeavesTheEarlierFileWholeAndNoTemporaryFile) {
    auto target = dir.write("store/state.json", "{\"kept\": true}");
    auto fault = GetParam();
    FaultInjection fail(fault.call, fault.nth, fault.error);

    JSONFile(target).save({{"kept", false}, {"more", "text that takes several writes"}});

    EXPECT_EQ(fail.failures(), 1);
    EXPECT_EQ(TempDir::read(target), "{\"kept\": true}");
    EXPECT_EQ(namesIn(dir.path() / "store"), std::vector<std::string>{"state.json"});
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailedReplace, testing::ValuesIn(faultsBeforeReplacing), faultName);

TEST(FileWrite, AtomicReplaceWritesEveryByteThroughShortAndInterruptedWrites) {
    TempDir dir;
    ShortWrites shortWrites;
    FaultInjection interrupted(SysCall::write, 2, EINTR);
    auto target = dir / "state.json";

    ASSERT_TRUE(FileWrite::atomicReplace(target, newText));

    EXPECT_EQ(TempDir::read(target), newText);
    EXPECT_EQ(interrupted.failures(), 1);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"state.json"});
}

TEST(FileWrite, AFailedFsyncIsNeverRetried) {
    TempDir dir;
    auto target = dir.write("state.json", "old");
    FaultInjection fail(SysCall::fsync, 1, EIO, FaultInjection::Repeat::always);

    EXPECT_FALSE(FileWrite::atomicReplace(target, newText));
    EXPECT_FALSE(FileWrite::exclusiveCreate(dir / "backup", newText));

    // One fsync each: the failed one. No second try, and no folder flush after it.
    EXPECT_EQ(fail.calls(), 2);
    EXPECT_FALSE(fs::exists(dir / "backup"));
}

TEST(FileWrite, AFolderThatCannotBeFlushedAfterTheRenameDoesNotUndoTheReplacement) {
    TempDir dir;
    auto target = dir.write("state.json", "old");
    FaultInjection fail(SysCall::fsync, 2, EIO);

    EXPECT_TRUE(FileWrite::atomicReplace(target, newText));
    EXPECT_EQ(fail.failures(), 1);
    EXPECT_EQ(TempDir::read(target), newText);
}

TEST(FileWrite, NewFilesGetExactlyTheirModeWhateverTheUmask) {
    TempDir dir;
    mode_t saved = ::umask(077);
    EXPECT_TRUE(FileWrite::atomicReplace(dir / "exact", "x", 0640));
    EXPECT_TRUE(FileWrite::exclusiveCreate(dir / "created", "x", 0640));
    EXPECT_TRUE(FileWrite::atomicReplace(dir / "narrowed", "x", 0640, FileWrite::Permissions::umasked));
    ::umask(saved);

    EXPECT_EQ(permissionsOf(dir / "exact"), 0640u);
    EXPECT_EQ(permissionsOf(dir / "created"), 0640u);
    EXPECT_EQ(permissionsOf(dir / "narrowed"), 0600u);
}

TEST(FileWrite, ExclusiveCreateRefusesAnythingAtThePath) {
    TempDir dir;
    auto existing = dir.write("notes.md", "someone else's");
    fs::create_symlink(dir / "nowhere", dir / "dangling");

    auto onFile = FileWrite::exclusiveCreate(existing, newText);
    auto onLink = FileWrite::exclusiveCreate(dir / "dangling", newText);

    EXPECT_FALSE(onFile);
    EXPECT_EQ(onFile.error, EEXIST);
    EXPECT_EQ(TempDir::read(existing), "someone else's");
    EXPECT_FALSE(onLink);
    EXPECT_EQ(onLink.error, EEXIST);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST(FileWrite, ExclusiveCreateRemovesWhatItMadeWhenAWriteFails) {
    TempDir dir;
    FaultInjection fail(SysCall::write, 1, ENOSPC);

    auto result = FileWrite::exclusiveCreate(dir / "backup", newText);

    EXPECT_FALSE(result);
    EXPECT_EQ(result.error, ENOSPC);
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST(FileWrite, AppendAddsToAnExistingFileAndNeverCreatesOne) {
    TempDir dir;
    auto existing = dir.write("log", "one\n");

    EXPECT_TRUE(FileWrite::append(existing, "two\n"));
    auto missing = FileWrite::append(dir / "missing", "two\n");

    EXPECT_EQ(TempDir::read(existing), "one\ntwo\n");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.failed, SysCall::open);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(FileWrite, MakeFoldersCreatesMissingParentsAndStopsAtAFile) {
    TempDir dir;
    dir.write("file", "");

    std::vector<std::string> made;
    EXPECT_TRUE(FileWrite::makeFolders(dir / "a/b", 0777, &made));
    EXPECT_TRUE(FileWrite::makeFolders(dir / "a/b/c", 0777, &made));
    EXPECT_TRUE(FileWrite::makeFolders(dir / "a/b/c"));
    auto blocked = FileWrite::makeFolders(dir / "file/d");

    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    // What each call created, outermost first; nothing that was there already.
    EXPECT_EQ(made, (std::vector<std::string>{dir / "a", dir / "a/b", dir / "a/b/c"}));
    EXPECT_FALSE(blocked);
    EXPECT_EQ(blocked.error, ENOTDIR);
}

TEST(FileWrite, ParentFolder) {
    EXPECT_EQ(FileWrite::parentFolder("/a/b/c.json"), "/a/b");
    EXPECT_EQ(FileWrite::parentFolder("/a//b/"), "/a");
    EXPECT_EQ(FileWrite::parentFolder("/c.json"), "/");
    EXPECT_EQ(FileWrite::parentFolder("c.json"), ".");
}

TEST(SysCalls, RenameNoReplaceRefusesAnExistingTarget) {
    TempDir dir;
    auto from = dir.write("from", "moving");
    auto to = dir.write("to", "staying");

    errno = 0;
    int result = sysCalls().renameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
    if (result == -1 && errno == EINVAL) GTEST_SKIP() << "this file system cannot refuse to replace";

    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(TempDir::read(to), "staying");
    EXPECT_EQ(sysCalls().renameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, (dir / "new").c_str()), 0);
    EXPECT_EQ(TempDir::read(dir / "new"), "moving");
}

// Where the file system cannot rename without replacing, a hard link makes
// the new name; only a file system without hard links falls back further.
TEST(FileWrite, RenameWithoutReplacingOnFileSystemsThatCannot) {
    struct Case {
        const char* name;
        bool targetExists;
        int linkError;  // 0: hard links work
        FileWrite::LastResort lastResort;
        bool placed;
    };
    using FileWrite::LastResort;
    const Case cases[] = {
        {"ByHardLink", false, 0, LastResort::none, true},
        {"TakenNameKept", true, 0, LastResort::plainRename, false},
        {"NoHardLinksPlainRename", false, EPERM, LastResort::plainRename, true},
        {"NoHardLinksNoLastResort", false, EPERM, LastResort::none, false},
        {"LinkFailsForReal", false, EIO, LastResort::plainRename, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto from = dir.write("from", "moving");
        if (c.targetExists) dir.write("to", "staying");
        FaultInjection noReplace(SysCall::renameNoReplace, 1, EINVAL, FaultInjection::Repeat::always);
        std::optional<FaultInjection> link;
        if (c.linkError != 0) link.emplace(SysCall::link, 1, c.linkError, FaultInjection::Repeat::always);

        auto result = FileWrite::renameWithoutReplacing(AT_FDCWD, from, AT_FDCWD, dir / "to", c.lastResort);
        EXPECT_EQ(static_cast<bool>(result), c.placed);
        if (c.placed) {
            EXPECT_EQ(TempDir::read(dir / "to"), "moving");
            EXPECT_FALSE(fs::exists(from));
        } else {
            EXPECT_EQ(result.error, c.targetExists ? EEXIST : c.linkError);
            EXPECT_EQ(TempDir::read(from), "moving");
            EXPECT_EQ(fs::exists(dir / "to"), c.targetExists);
            if (c.targetExists) {
                EXPECT_EQ(TempDir::read(dir / "to"), "staying");
            }
        }
    }
}

TEST(FaultInjection, FailsFromTheNthCallOnAndRestoresTheTableAfterwards) {
    TempDir dir;
    {
        FaultInjection fail(SysCall::mkdir, 2, EROFS, FaultInjection::Repeat::always);
        EXPECT_EQ(sysCalls().mkdir((dir / "1").c_str(), 0700), 0);
        EXPECT_EQ(sysCalls().mkdir((dir / "2").c_str(), 0700), -1);
        EXPECT_EQ(errno, EROFS);
        EXPECT_EQ(sysCalls().mkdir((dir / "3").c_str(), 0700), -1);
        EXPECT_EQ(fail.calls(), 3);
        EXPECT_EQ(fail.failures(), 2);
    }
    EXPECT_EQ(sysCalls().mkdir((dir / "2").c_str(), 0700), 0);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"1", "2"}));
}

TEST(FaultInjection, RunsAnActionJustBeforeTheNthCall) {
    TempDir dir;
    auto target = dir.write("state.json", "old");
    std::string seen;
    auto hook = FaultInjection::before(SysCall::rename, 1, [&] { seen = TempDir::read(target); });

    EXPECT_TRUE(FileWrite::atomicReplace(target, newText));

    EXPECT_EQ(seen, "old");
    EXPECT_EQ(hook.calls(), 1);
    EXPECT_EQ(TempDir::read(target), newText);
}

}  // namespace
