// A plugin's folder: cleaned file names, what a listing reads (and what it
// turns away even when the disk changes under it), and creating files that
// never replace one and never leave half of one.
#include "core/PluginFolder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <ostream>

#include "core/BridgeError.hpp"
#include "core/UTF8.hpp"
#include "tests/support/FaultInjection.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Refusal.hpp"

namespace fs = std::filesystem;

namespace {

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> listedNames(const nlohmann::json& listing) {
    std::vector<std::string> names;
    for (const auto& file : listing) names.push_back(file["name"].get<std::string>());
    return names;
}

// --- file names ------------------------------------------------------------------

struct NameCase {
    const char* name;
    std::string proposed;
    std::string expected;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.name; }

class PluginFileName : public testing::TestWithParam<NameCase> {};

TEST_P(PluginFileName, CleansTheProposedName) {
    EXPECT_EQ(PluginFolder::fileName(GetParam().proposed), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PluginFileName,
    testing::Values(NameCase{"SeparatorsBecomeSpaces", "a/b\\c:d", "a b c d.md"},
                    NameCase{"ControlCharactersBecomeSpaces", std::string("a\x01" "b\x7f" "c\0d", 7), "a b c d.md"},
                    NameCase{"LeadingDotsAndSpacesGo", " . ..hidden notes", "hidden notes.md"},
                    NameCase{"WhiteSpaceRunsBecomeOneSpace", "a \t\n b\u2028c", "a b c.md"},
                    NameCase{"CapitalExtensionGoes", "Notes.MD", "Notes.md"},
                    NameCase{"LongExtensionGoes", "Notes.Markdown", "Notes.md"},
                    NameCase{"OnlyTheFinalExtensionGoes", "a.md.md", "a.md.md"},
                    NameCase{"ExtensionBeforeASpaceStays", "notes.md ", "notes.md.md"},
                    NameCase{"EmptyIsUntitled", "", "Untitled.md"},
                    NameCase{"NothingLeftIsUntitled", " . .. ", "Untitled.md"},
                    NameCase{"HundredLetters", std::string(150, 'a'), std::string(100, 'a') + ".md"},
                    // Letters with a combining accent count once each.
                    NameCase{"HundredCharactersNotCodePoints", repeated("e\u0301", 50) + std::string(100, 'a'),
                             repeated("e\u0301", 50) + std::string(50, 'a') + ".md"},
                    // Cut short of 255 bytes, between two characters.
                    NameCase{"FewEnoughBytes", repeated("e\u0301", 150), repeated("e\u0301", 82) + ".md"},
                    NameCase{"TrimmedAfterTheCut", std::string(99, 'a') + "  b", std::string(99, 'a') + ".md"},
                    NameCase{"BrokenUTF8BecomesText", "a\xff" "b", "a\uFFFDb.md"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginFileName, AlwaysLeavesRoomForANumberInAFileName) {
    // 100 characters of three bytes each would not fit the 255 bytes a name may have.
    std::string name = PluginFolder::fileName(repeated("語", 150));
    EXPECT_TRUE(UTF8::isValid(name));
    EXPECT_LE(name.size() + 4, 255u);  // room for " 999"
    EXPECT_EQ(name, repeated("語", 82) + ".md");
    TempDir dir;
    dir.write(name, "taken");
    EXPECT_EQ(PluginFolder::create(dir.path(), repeated("語", 150), "x"), repeated("語", 82) + " 2.md");
}

// --- listing -----------------------------------------------------------------------

TEST(PluginListing, OnlySmallVisibleMarkdownFilesSortedWithoutCase) {
    TempDir dir;
    TempDir elsewhere;
    dir.write("Beta.md", "second");
    dir.write("alpha.markdown", "first");
    dir.write("limit.MD", std::string(PluginFolder::fileMax, 'x'));
    dir.write(".hidden.md", "hidden");
    dir.write("notes.txt", "text");
    dir.write("big.md", std::string(600 * 1024, 'x'));
    dir.write("broken.md", "\xff\xfe");
    fs::create_directories(dir.path() / "folder.md");
    fs::create_symlink(elsewhere.write("target.md", "behind a link"), dir.path() / "link.md");
    ASSERT_EQ(::mkfifo((dir / "pipe.md").c_str(), 0600), 0);
    int fd = ::open((dir / "\xff.md").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);  // a name that is not UTF-8
    ASSERT_GE(fd, 0);
    ::close(fd);

    nlohmann::json listing = PluginFolder::listing(dir.path());
    EXPECT_EQ(listedNames(listing), (std::vector<std::string>{"alpha", "Beta", "limit"}));
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing[0]["text"], "first");
    EXPECT_EQ(listing[1]["text"], "second");
    EXPECT_EQ(listing[2]["text"].get<std::string>().size(), PluginFolder::fileMax);
}

TEST(PluginListing, TheFirst200InOrder) {
    TempDir dir;
    for (int i = 249; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.md", i);
        dir.write(name, "x");
    }
    auto names = listedNames(PluginFolder::listing(dir.path()));
    ASSERT_EQ(names.size(), PluginFolder::filesMax);
    EXPECT_EQ(names.front(), "f000");
    EXPECT_EQ(names.back(), "f199");
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST(PluginListing, AFolderThatCannotBeReadListsAsEmpty) {
    TempDir dir;
    EXPECT_EQ(PluginFolder::listing(dir / "gone"), nlohmann::json::array());
    EXPECT_EQ(PluginFolder::listing(dir.write("file.md", "x")), nlohmann::json::array());
}

// What was checked is what is read: a file replaced after the listing looked
// at it, just before it is opened, is turned away, never followed or waited on.
struct SwapCase {
    const char* name;
    std::function<void(const TempDir& dir, const TempDir& elsewhere)> swap;
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

class PluginListingSwap : public testing::TestWithParam<SwapCase> {};

TEST_P(PluginListingSwap, AFileReplacedBeforeItIsReadIsSkipped) {
    TempDir dir;
    TempDir elsewhere;
    dir.write("a.md", "small");
    elsewhere.write("secret.md", "not the plugin's");
    // The first open is the folder's, the second the file's.
    auto hook = FaultInjection::before(SysCall::open, 2, [&] {
        fs::remove(dir / "a.md");
        GetParam().swap(dir, elsewhere);
    });
    EXPECT_EQ(PluginFolder::listing(dir.path()), nlohmann::json::array());
    EXPECT_EQ(hook.calls(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Swaps, PluginListingSwap,
    testing::Values(SwapCase{"Link",
                             [](const TempDir& dir, const TempDir& elsewhere) {
                                 fs::create_symlink(elsewhere / "secret.md", dir / "a.md");
                             }},
                    SwapCase{"Pipe",
                             [](const TempDir& dir, const TempDir&) { ::mkfifo((dir / "a.md").c_str(), 0600); }},
                    SwapCase{"Grown",
                             [](const TempDir& dir, const TempDir&) {
                                 dir.write("a.md", std::string(PluginFolder::fileMax + 1, 'x'));
                             }},
                    SwapCase{"Folder", [](const TempDir& dir, const TempDir&) { fs::create_directory(dir / "a.md"); }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- create ------------------------------------------------------------------------

TEST(PluginCreate, TheCleanedNameThenTheNextNumber) {
    TempDir dir;
    EXPECT_EQ(PluginFolder::create(dir.path(), "notes.md", "first"), "notes.md");
    EXPECT_EQ(PluginFolder::create(dir.path(), "notes", "second"), "notes 2.md");
    EXPECT_EQ(PluginFolder::create(dir.path(), "", ""), "Untitled.md");
    EXPECT_EQ(TempDir::read(dir / "notes.md"), "first");
    EXPECT_EQ(TempDir::read(dir / "notes 2.md"), "second");
    EXPECT_EQ(TempDir::read(dir / "Untitled.md"), "");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"Untitled.md", "notes 2.md", "notes.md"}));
    // An ordinary new file: 0644 as the umask lets it be.
    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status;
    ASSERT_EQ(::stat((dir / "notes.md").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644 & ~mask);
}

TEST(PluginCreate, RefusesLargeOrNonTextBodiesBeforeTheDisk) {
    TempDir dir;
    EXPECT_EQ(expectedRefusal([&] { PluginFolder::create(dir.path(), "a", std::string(PluginFolder::fileMax + 1, 'x')); }),
              BridgeError(413, "file too large"));
    EXPECT_EQ(expectedRefusal([&] { PluginFolder::create(dir.path(), "a", "\xc3"); }), BridgeError(400, "not UTF-8 text"));
    EXPECT_TRUE(namesIn(dir.path()).empty());
    EXPECT_EQ(PluginFolder::create(dir.path(), "a", std::string(PluginFolder::fileMax, 'x')), "a.md");
    EXPECT_EQ(expectedRefusal([&] { PluginFolder::create(dir / "gone", "a", "x"); }).status, 500);
}

// Whatever stands at a name (a file, a dangling link) keeps it, also where
// the file system cannot rename without replacing and a hard link makes the name.
class PluginCreatePlacing : public testing::TestWithParam<bool> {};

TEST_P(PluginCreatePlacing, AnExistingFileIsNeverOverwritten) {
    TempDir dir;
    std::optional<FaultInjection> noRenameWithoutReplacing;
    if (GetParam()) {
        noRenameWithoutReplacing.emplace(SysCall::renameNoReplace, 1, EINVAL, FaultInjection::Repeat::always);
    }
    dir.write("notes.md", "mine");
    fs::create_symlink(dir / "nowhere", dir / "notes 2.md");
    EXPECT_EQ(PluginFolder::create(dir.path(), "notes", "new"), "notes 3.md");
    EXPECT_EQ(TempDir::read(dir / "notes.md"), "mine");
    EXPECT_TRUE(fs::is_symlink(dir / "notes 2.md"));
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(TempDir::read(dir / "notes 3.md"), "new");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"notes 2.md", "notes 3.md", "notes.md"}));
}

INSTANTIATE_TEST_SUITE_P(Ways, PluginCreatePlacing, testing::Bool(),
                         [](const auto& info) { return info.param ? "ByHardLink" : "ByRename"; });

TEST(PluginCreate, NumbersUpTo999ThenRefuses) {
    TempDir dir;
    dir.write("n.md", "x");
    for (int number = 2; number <= 998; ++number) dir.write("n " + std::to_string(number) + ".md", "x");
    EXPECT_EQ(PluginFolder::create(dir.path(), "n", "last"), "n 999.md");
    EXPECT_EQ(expectedRefusal([&] { PluginFolder::create(dir.path(), "n", "one more"); }),
              BridgeError(409, "too many files with that name"));
    EXPECT_EQ(namesIn(dir.path()).size(), 999u);  // and no temporary left
    EXPECT_EQ(TempDir::read(dir / "n 999.md"), "last");
}

// Every failing step, once or from then on: the create is refused, no file
// stands under any name it could have taken, no temporary is left, and what
// was there is untouched.
struct FaultCase {
    SysCall call;
    FaultInjection::Repeat repeat;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << sysCallName(c.call) << (c.repeat == FaultInjection::Repeat::once ? " once" : " always");
}

class PluginCreateFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(PluginCreateFaults, NoFileNoTemporaryAndARefusal) {
    const FaultCase& c = GetParam();
    int total = 0;
    {
        TempDir dir;
        dir.write("keep.md", "kept");
        FaultInjection counter(c.call, INT_MAX, EIO);
        ASSERT_EQ(PluginFolder::create(dir.path(), "keep", "new text"), "keep 2.md");
        total = counter.calls();
    }
    ASSERT_GE(total, 1);
    for (int nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE("failing call " + std::to_string(nth) + " of " + std::to_string(total));
        TempDir dir;
        dir.write("keep.md", "kept");
        BridgeError refused(0, "");
        {
            FaultInjection fail(c.call, nth, EIO, c.repeat);
            refused = expectedRefusal([&] { PluginFolder::create(dir.path(), "keep", "new text"); });
        }
        EXPECT_EQ(refused, BridgeError(500, std::string("not saved: ") + std::strerror(EIO)));
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"keep.md"});
        EXPECT_EQ(TempDir::read(dir / "keep.md"), "kept");
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, PluginCreateFaults,
    testing::ValuesIn([] {
        std::vector<FaultCase> cases;
        for (SysCall call : {SysCall::open, SysCall::write, SysCall::fsync, SysCall::renameNoReplace, SysCall::close})
            for (auto repeat : {FaultInjection::Repeat::once, FaultInjection::Repeat::always})
                cases.push_back({call, repeat});
        return cases;
    }()),
    [](const auto& info) {
        return std::string(sysCallName(info.param.call)) +
               (info.param.repeat == FaultInjection::Repeat::once ? "Once" : "Always");
    });

}  // namespace
