#include "core/LogFile.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/ScopedEnv.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <latch>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// 2024-05-01T14:03:07.900Z: the fraction must be cut, not rounded.
const LogFile::Time when = sys_days{year{2024} / 5 / 1} + 14h + 3min + 7s + 900ms;
const std::string stamp = "2024-05-01T14:03:07Z ";
const std::string headerLine = std::string(LogFile::header) + "\n";

// A line of exactly `length` bytes, "\n" included.
std::string lineOf(char fill, size_t length) { return std::string(length - 1, fill) + "\n"; }

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(LogFile, AMissingFileIsCreatedWithTheHeaderAndEachBreakBecomesASpace) {
    TempDir dir;
    LogFile log(dir / "state/Quillmarsh.log");

    log.add("save: one\ntwo\r\n", when);

    EXPECT_EQ(TempDir::read(log.path()), headerLine + stamp + "save: one two\r \n");
    EXPECT_EQ(permissionsOf(log.path()), 0600u);
}

TEST(LogFile, AnEmptyFileGetsTheHeaderAndAFilledOneOnlyTheLine) {
    TempDir dir;
    LogFile empty(dir.write("empty.log", ""));
    LogFile filled(dir.write("filled.log", headerLine + "earlier\n"));

    empty.add("quit: requested", when);
    filled.add("quit: requested", when);

    EXPECT_EQ(TempDir::read(empty.path()), headerLine + stamp + "quit: requested\n");
    EXPECT_EQ(TempDir::read(filled.path()), headerLine + "earlier\n" + stamp + "quit: requested\n");
}

struct PrepareCase {
    const char* name;
    std::optional<std::string> contents;  // nothing: no file
    bool kept;
};

class LogFilePrepare : public testing::TestWithParam<PrepareCase> {};

TEST_P(LogFilePrepare, KeepsOnlyAFileThatBeginsWithTheHeader) {
    TempDir dir;
    auto path = dir / "logs/Quillmarsh.log";
    if (GetParam().contents) dir.write("logs/Quillmarsh.log", *GetParam().contents);

    LogFile(path).prepare();

    EXPECT_EQ(TempDir::read(path), GetParam().kept ? *GetParam().contents : headerLine);
    if (!GetParam().kept) {
        EXPECT_EQ(permissionsOf(path), 0600u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LogFilePrepare,
    testing::Values(
        PrepareCase{"missing", std::nullopt, false}, PrepareCase{"empty", "", false},
        PrepareCase{"headerAndLines", headerLine + stamp + "quit: requested\n", true},
        PrepareCase{"headerWithoutBreak", std::string(LogFile::header), true},
        PrepareCase{"headerFollowedByAnything", std::string(LogFile::header) + "!!", true},
        PrepareCase{"shorterThanTheHeader", "Quillmarsh log", false},
        PrepareCase{"earlierFormat", "Quillmarsh log, format 1\n2024-01-01 opened /home/me/notes.md\n", false},
        PrepareCase{"headerInOtherCase", "quillmarsh log, format 2: no file names, paths or addresses\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A bound of 200 keeps at most 100 bytes on a trim. The file before the new
// line: header (60) + first (30 or 31) + second (40) + third (40); the new line
// is 30 bytes. So it ends at exactly 200 bytes, or would end one byte past.
struct TrimCase {
    const char* name;
    size_t firstLength;
    bool trims;
};

class LogFileTrim : public testing::TestWithParam<TrimCase> {};

TEST_P(LogFileTrim, OnlyALinePastTheBoundTrimsToTheNewestWholeLines) {
    TempDir dir;
    const std::string first = lineOf('1', GetParam().firstLength);
    const std::string second = lineOf('2', 40);
    const std::string third = lineOf('3', 40);
    const std::string added = stamp + "save: ok\n";
    ASSERT_EQ(added.size(), 30u);
    LogFile log(dir.write("Quillmarsh.log", headerLine + first + second + third), 200);

    log.add("save: ok", when);

    auto contents = TempDir::read(log.path());
    if (GetParam().trims) {
        EXPECT_EQ(contents, headerLine + second + third + added);
    } else {
        EXPECT_EQ(contents, headerLine + first + second + third + added);
        EXPECT_EQ(contents.size(), 200u);
    }
}

INSTANTIATE_TEST_SUITE_P(Bound, LogFileTrim,
                         testing::Values(TrimCase{"reachesTheBound", 30, false},
                                         TrimCase{"passesTheBoundByOneByte", 31, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogFile, ATailWithoutLineBreaksIsKeptWhole) {
    TempDir dir;
    LogFile log(dir.write("Quillmarsh.log", headerLine + std::string(150, 'x')), 200);

    log.add("save: ok", when);

    EXPECT_EQ(TempDir::read(log.path()), headerLine + std::string(100, 'x') + stamp + "save: ok\n");
}

TEST(LogFile, RewritesMakeTheFilePrivateButAppendsLeaveItsPermissions) {
    TempDir dir;
    LogFile log(dir.write("Quillmarsh.log", headerLine), 200);
    ::chmod(log.path().c_str(), 0644);

    log.add("save: ok", when);
    EXPECT_EQ(permissionsOf(log.path()), 0644u);

    log.add(std::string(150, 'x'), when);  // past the bound: trimmed, rewritten
    EXPECT_EQ(permissionsOf(log.path()), 0600u);
}

TEST(LogFile, AFailedAppendKeepsTheEarlierLines) {
    TempDir dir;
    LogFile log(dir.write("Quillmarsh.log", headerLine + "earlier\n"));
    {
        FaultInjection fail(SysCall::write, 1, ENOSPC);
        log.add("save: ok", when);
        EXPECT_EQ(fail.failures(), 1);
    }
    EXPECT_EQ(TempDir::read(log.path()), headerLine + "earlier\n");
}

struct ConcurrentCase {
    const char* name;
    std::int64_t maxBytes;
};

class LogFileConcurrent : public testing::TestWithParam<ConcurrentCase> {};

TEST_P(LogFileConcurrent, TwoThreadsAddingAtOnceNeverMixTheirLines) {
    TempDir dir;
    // Each line takes many writes, so lines that were not kept apart would mix.
    SysCallsGuard guard;
    auto full = sysCalls().write;
    sysCalls().write = [full](int fd, const void* bytes, size_t count) {
        return full(fd, bytes, std::min<size_t>(count, 16));
    };
    LogFile log(dir / "Quillmarsh.log", GetParam().maxBytes);
    log.prepare();
    constexpr int perThread = 300;
    auto message = [](char who, int number) { return std::string(100, who) + " " + std::to_string(number); };

    std::latch start(2);
    auto addMany = [&](char who) {
        start.arrive_and_wait();
        for (int number = 0; number < perThread; ++number) log.add(message(who, number), when);
    };
    std::thread a(addMany, 'a');
    std::thread b(addMany, 'b');
    a.join();
    b.join();

    auto lines = linesOf(TempDir::read(log.path()));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), LogFile::header);
    // Each thread's lines are whole and in its own order; a trim only drops the oldest.
    int next[2] = {-1, -1};
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto& line = lines[i];
        ASSERT_GT(line.size(), stamp.size()) << line;
        char who = line[stamp.size()];
        ASSERT_TRUE(who == 'a' || who == 'b') << line;
        int& last = next[who - 'a'];
        int number = std::stoi(line.substr(line.rfind(' ') + 1));
        ASSERT_EQ(line, stamp + message(who, number));
        if (last >= 0) {
            ASSERT_EQ(number, last + 1) << line;
        }
        last = number;
    }
    if (GetParam().maxBytes == LogFile::defaultMax) {
        EXPECT_EQ(lines.size(), 1u + 2 * perThread);
        EXPECT_EQ(next[0], perThread - 1);
        EXPECT_EQ(next[1], perThread - 1);
    } else {
        // The thread that finished first may have had its last lines trimmed away.
        EXPECT_TRUE(next[0] == perThread - 1 || next[1] == perThread - 1);
        EXPECT_LE(fs::file_size(log.path()), static_cast<uintmax_t>(GetParam().maxBytes));
    }
}

// 600 lines of 127 bytes fit the default bound; 4096 bytes trim many times.
INSTANTIATE_TEST_SUITE_P(Bounds, LogFileConcurrent,
                         testing::Values(ConcurrentCase{"withinTheBound", LogFile::defaultMax},
                                         ConcurrentCase{"trimming", 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogFile, TheSharedLogCanBePointedElsewhere) {
    LogCapture capture;

    appLog().add("quit: requested");

    EXPECT_EQ(appLog().path(), capture.path());
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"quit: requested"});
}

struct SharedPathCase {
    const char* name;
    std::optional<std::string> stateHome;
    std::string expected;
};

class LogFileSharedPath : public testing::TestWithParam<SharedPathCase> {};

TEST_P(LogFileSharedPath, FollowsTheStateHome) {
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv state("XDG_STATE_HOME", GetParam().stateHome);

    EXPECT_EQ(LogFile::sharedPath(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, LogFileSharedPath,
    testing::Values(SharedPathCase{"set", "/var/state", "/var/state/Quillmarsh.log"},
                    SharedPathCase{"unset", std::nullopt, "/home/someone/.local/state/Quillmarsh.log"},
                    SharedPathCase{"relativeIsIgnored", "state", "/home/someone/.local/state/Quillmarsh.log"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
