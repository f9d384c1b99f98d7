#include "core/Backups.hpp"
#include "core/BridgeError.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Time = Backups::Time;

// The date text the names carry, in local time, made without ICU.
std::string localDate(Time at) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &local);
    return text;
}

// A fixed moment, in the middle of a second.
Time moment() { return std::chrono::system_clock::from_time_t(1714572187) + 400ms; }

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void expectBackupError(const std::function<void()>& action) {
    try {
        action();
        ADD_FAILURE() << "no refusal";
    } catch (const BridgeError& error) {
        EXPECT_EQ(error, BridgeError(500, std::string(backupFailedMessage)));
    }
}

struct NameCase {
    const char* name;
    std::string document;
    int counter;
    std::string expected;  // "{D}" stands for the date text
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.name; }

class BackupName : public testing::TestWithParam<NameCase> {};

TEST_P(BackupName, FollowsTheDocumentTheDateAndTheCounter) {
    std::string expected = GetParam().expected;
    expected.replace(expected.find("{D}"), 3, localDate(moment()));
    EXPECT_EQ(Backups::name(GetParam().document, moment(), GetParam().counter), expected);
}

INSTANTIATE_TEST_SUITE_P(Names, BackupName,
                         testing::Values(NameCase{"markdown", "notes.md", 1, "notes (backup {D}).md"},
                                         NameCase{"counter", "notes.md", 2, "notes (backup {D}) 2.md"},
                                         NameCase{"noExtension", "README", 1, "README (backup {D})"},
                                         NameCase{"lastDotCounts", "a.b.markdown", 7, "a.b (backup {D}) 7.markdown"},
                                         NameCase{"emptyStem", ".md", 1, "Document (backup {D}).md"},
                                         // A "type" with a blank could never be read back by the pruning.
                                         NameCase{"blankAfterTheDot", "v1.final draft", 1,
                                                  "v1.final draft (backup {D})"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BackupName, ALongNameIsShortenedByWholeCharactersTo255Bytes) {
    // "e" with a combining acute accent is one character of three bytes: the
    // cut never separates the accent from its letter.
    std::string stem;
    while (stem.size() < 300) stem += "e\xCC\x81";
    auto name = Backups::name(stem + ".md", moment(), 12345);
    std::string suffix = " (backup " + localDate(moment()) + ") 12345.md";
    ASSERT_LE(name.size(), 255u);
    ASSERT_GT(name.size(), 255u - 3);
    ASSERT_EQ(name.substr(name.size() - suffix.size()), suffix);
    std::string kept = name.substr(0, name.size() - suffix.size());
    EXPECT_EQ(kept.size() % 3, 0u);
    EXPECT_EQ(kept, stem.substr(0, kept.size()));
}

TEST(Backups, KeepCreatesTheFoldersAndWritesAPrivateCopy) {
    TempDir dir;
    Backups backups(dir / "support/deeper/Backups");
    auto path = backups.keep("old text", "notes.md", moment());

    EXPECT_EQ(path, dir / ("support/deeper/Backups/notes (backup " + localDate(moment()) + ").md"));
    EXPECT_EQ(TempDir::read(path), "old text");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST(Backups, TwoBackupsInOneSecondGetTheNextCounter) {
    TempDir dir;
    Backups backups(dir / "Backups");
    auto first = backups.keep("one", "notes.md", moment());
    auto second = backups.keep("two", "notes.md", moment() + 100ms);
    auto third = backups.keep("three", "notes.md", moment());

    std::string date = localDate(moment());
    EXPECT_EQ(fs::path(second).filename(), "notes (backup " + date + ") 2.md");
    EXPECT_EQ(fs::path(third).filename(), "notes (backup " + date + ") 3.md");
    EXPECT_EQ(TempDir::read(first), "one");
    EXPECT_EQ(TempDir::read(second), "two");
}

TEST(Backups, ALinkInPlaceOfTheFolderRefusesEveryBackup) {
    TempDir dir;
    fs::create_directory(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere", dir / "Backups");
    Backups backups(dir / "Backups");
    expectBackupError([&] { backups.keep("x", "notes.md", moment()); });
    EXPECT_TRUE(namesIn(dir / "elsewhere").empty());
}

// Every system call a backup makes, failed once and for good: the one refusal,
// and nothing half-written left in the folder.
struct FaultCase {
    const char* name;
    SysCall call;
    int nth;
    FaultInjection::Repeat repeat;
    bool refused;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class BackupFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(BackupFaults, RefuseWithoutLeavingAFileOrSucceedWhole) {
    TempDir dir;
    Backups backups(dir / "support/Backups");
    const auto& c = GetParam();
    std::string path;
    {
        FaultInjection fail(c.call, c.nth, EIO, c.repeat);
        if (c.refused) {
            expectBackupError([&] { backups.keep("old text", "notes.md", moment()); });
        } else {
            path = backups.keep("old text", "notes.md", moment());
        }
        EXPECT_GE(fail.failures(), 1) << "the call was not made";
    }
    if (c.refused) {
        EXPECT_TRUE(namesIn(dir / "support/Backups").empty());
    } else {
        EXPECT_EQ(TempDir::read(path), "old text");
    }
}

constexpr auto once = FaultInjection::Repeat::once;
constexpr auto always = FaultInjection::Repeat::always;

INSTANTIATE_TEST_SUITE_P(
    Calls, BackupFaults,
    // The folders "support" and "support/Backups" are made first. Flushes, in
    // order: the folder that holds "support", "support" itself, the file, "Backups".
    testing::Values(FaultCase{"mkdir", SysCall::mkdir, 1, always, true},
                    FaultCase{"outerFlushCannotOpen", SysCall::open, 1, once, false},
                    FaultCase{"parentFlushCannotOpen", SysCall::open, 2, once, false},
                    FaultCase{"fileOpen", SysCall::open, 3, once, true},
                    FaultCase{"folderFlushCannotOpen", SysCall::open, 4, once, false},
                    FaultCase{"outerFlush", SysCall::fsync, 1, once, true},
                    FaultCase{"parentFlush", SysCall::fsync, 2, once, true},
                    FaultCase{"fileFlush", SysCall::fsync, 3, once, true},
                    FaultCase{"folderFlush", SysCall::fsync, 4, once, true},
                    FaultCase{"fchmod", SysCall::fchmod, 1, always, true},
                    FaultCase{"write", SysCall::write, 1, always, true},
                    FaultCase{"closeOfParent", SysCall::close, 2, once, false},
                    FaultCase{"closeOfFile", SysCall::close, 3, once, true},
                    FaultCase{"closeOfFolder", SysCall::close, 4, once, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Backups, AFailingWriteRefusesAfterTheFileWasMadeAndRemovesIt) {
    TempDir dir;
    Backups backups(dir / "Backups");
    bool fileExisted = false;
    FaultInjection fail(SysCall::write, 1, EIO);
    auto look = FaultInjection::before(SysCall::write, 1, [&] { fileExisted = !namesIn(dir / "Backups").empty(); });
    expectBackupError([&] { backups.keep("x", "notes.md", moment()); });
    EXPECT_TRUE(fileExisted);
    EXPECT_TRUE(namesIn(dir / "Backups").empty());
}

TEST(Backups, WrittenVersionsDecideWhetherABackupIsNeeded) {
    Backups backups("/nowhere");
    EXPECT_TRUE(backups.needsBackup("/d/a.md", "v1"));
    EXPECT_EQ(backups.lastWritten("/d/a.md"), std::nullopt);
    backups.wrote("/d/a.md", "v1");
    EXPECT_FALSE(backups.needsBackup("/d/a.md", "v1"));
    EXPECT_TRUE(backups.needsBackup("/d/a.md", "v2"));
    EXPECT_TRUE(backups.needsBackup("/d/b.md", "v1"));
    backups.wrote("/d/a.md", "v2");
    EXPECT_EQ(backups.lastWritten("/d/a.md"), "v2");
}

TEST(Backups, PruneRemovesOnlyBackupsOlderThanThirtyDays) {
    TempDir dir;
    Backups backups(dir / "Backups");
    Time now = moment();
    auto named = [&](Time at) { return "notes (backup " + localDate(at) + ").md"; };
    const std::vector<std::string> removed = {
        "notes (backup 2020-01-01 10.00.00).md",
        "x (backup 2020-01-01 10.00.00) 7",
        named(now - Backups::keepFor - 2s),
    };
    const std::vector<std::string> kept = {
        "notes.md",
        "notes (backup yesterday).md",
        "x (backup 2020-01-01 10.00.00) 123456.md",
        "x (backup 2020-13-45 10.00.00).md",  // not a date
        named(now - 1h),
        named(now - Backups::keepFor + 2s),
    };
    for (const auto& name : removed) dir.write("Backups/" + name, "old");
    for (const auto& name : kept) dir.write("Backups/" + name, "keep");
    fs::create_directory(dir / "Backups/folder (backup 2020-01-01 10.00.00).md");
    fs::create_symlink(dir / "Backups/notes.md", dir / "Backups/link (backup 2020-01-01 10.00.00).md");

    EXPECT_EQ(backups.prune(now), 3);

    auto left = namesIn(dir / "Backups");
    for (const auto& name : removed) EXPECT_EQ(std::count(left.begin(), left.end(), name), 0) << name;
    for (const auto& name : kept) EXPECT_EQ(std::count(left.begin(), left.end(), name), 1) << name;
    EXPECT_TRUE(fs::is_directory(dir / "Backups/folder (backup 2020-01-01 10.00.00).md"));
    EXPECT_TRUE(fs::is_symlink(dir / "Backups/link (backup 2020-01-01 10.00.00).md"));
}

TEST(Backups, PruneWithoutAFolderOrWithALinkRemovesNothing) {
    TempDir dir;
    EXPECT_EQ(Backups(dir / "Backups").prune(moment()), 0);
    dir.write("real/notes (backup 2020-01-01 10.00.00).md", "old");
    fs::create_symlink(dir / "real", dir / "Backups");
    EXPECT_EQ(Backups(dir / "Backups").prune(moment()), 0);
    EXPECT_TRUE(fs::exists(dir / "real/notes (backup 2020-01-01 10.00.00).md"));
}

}  // namespace
