// Path rules: the text rules as tables, resolve against real links
// in a temporary folder.
#include "core/FileLimits.hpp"
#include "core/FolderListing.hpp"
#include "core/PathRules.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/support/Refusal.hpp"

namespace fs = std::filesystem;

namespace {

const std::string noFolderMessage = "no folder is open";
const std::string notRelativeMessage = "path must be relative to the folder";
const std::string privateMessage = "path may not contain '..', '.', empty parts, hidden files or private folders";
const std::string notMarkdownMessage = "only .md and .markdown files";
const std::string leavesMessage = "path leaves the folder";
const std::string kNotUTF8 = "the file name is not valid UTF-8";


void link(const std::string& target, const std::string& at) { fs::create_symlink(target, at); }

}  // namespace

// --- constants ----------------------------------------------------------------

TEST(FilesConstants, HoldTheFixedNames) {
    EXPECT_EQ(Files::markdownSuffixes[0], ".md");
    EXPECT_EQ(Files::markdownSuffixes[1], ".markdown");
    EXPECT_EQ(Files::secretFolders.size(), 13u);
    EXPECT_EQ(Files::heavyFolders.size(), 19u);
    for (auto name : Files::secretFolders) EXPECT_FALSE(Files::heavyFolders.contains(name)) << name;
    EXPECT_TRUE(Files::secretFolders.contains(".documentrevisions-v100"));
    EXPECT_TRUE(Files::heavyFolders.contains(".pnpm-store"));
    EXPECT_FALSE(Files::secretFolders.contains(".SSH"));  // callers lower-case first
    EXPECT_EQ(Files::dotWalkMax, 50000);
    EXPECT_EQ(Files::testSeams().dotWalkMax, Files::dotWalkMax);
    EXPECT_FALSE(Files::testSeams().beforeDisk);
    EXPECT_EQ(Files::maxBytes, 20971520);
}

// --- isMarkdown -----------------------------------------------------------------

struct MarkdownCase {
    const char* name;
    bool markdown;
};

class IsMarkdown : public testing::TestWithParam<MarkdownCase> {};

TEST_P(IsMarkdown, Judges) {
    EXPECT_EQ(Files::isMarkdown(GetParam().name), GetParam().markdown) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Table, IsMarkdown, testing::Values(
    MarkdownCase{"plan.md", true},
    MarkdownCase{"Plan.MD", true},
    MarkdownCase{"a.Markdown", true},
    MarkdownCase{"a.MARKDOWN", true},
    MarkdownCase{".md", true},                 // refused elsewhere, as a hidden file
    MarkdownCase{"résumé.md", true},
    MarkdownCase{"ÉTÉ.MD", true},
    MarkdownCase{"a.mar\xE2\x84\xAA" "down", true},  // KELVIN SIGN lower-cases to "k"
    MarkdownCase{"a.txt", false},
    MarkdownCase{"a.md.txt", false},
    MarkdownCase{"README", false},
    MarkdownCase{"", false},
    MarkdownCase{"a.m d", false},
    MarkdownCase{"a.mdx", false},
    MarkdownCase{"a.md ", false},
    MarkdownCase{"a.\xD0\xBC\xD0\xB4", false},  // Cyrillic "мд"
    MarkdownCase{"bad\xFF.md", true}));          // invalid UTF-8 before the suffix

// --- isPrivate ------------------------------------------------------------------

struct PrivateCase {
    std::vector<std::string> parts;
    bool isPrivate;
};

class IsPrivate : public testing::TestWithParam<PrivateCase> {};

TEST_P(IsPrivate, Judges) {
    std::string shown;
    for (auto& part : GetParam().parts) shown += "[" + part + "]";
    EXPECT_EQ(Files::isPrivate(GetParam().parts), GetParam().isPrivate) << shown;
}

INSTANTIATE_TEST_SUITE_P(Table, IsPrivate, testing::Values(
    PrivateCase{{}, false},
    PrivateCase{{"a.md"}, false},
    PrivateCase{{"notes", "plan.md"}, false},
    PrivateCase{{""}, true},
    PrivateCase{{"a", "", "b.md"}, true},
    PrivateCase{{"."}, true},
    PrivateCase{{".."}, true},
    PrivateCase{{"a", "..", "b.md"}, true},
    PrivateCase{{".hidden.md"}, true},
    PrivateCase{{"docs", ".hidden.md"}, true},
    PrivateCase{{".github"}, true},            // a hidden folder name as the last part is a hidden file
    PrivateCase{{".github", "readme.md"}, false},
    PrivateCase{{".notes", "x.md"}, false},
    PrivateCase{{".git", "x.md"}, true},
    PrivateCase{{"docs", ".SSH", "x.md"}, true},
    PrivateCase{{".Trash", "x.md"}, true},
    PrivateCase{{".GnuPG", "x.md"}, true},
    PrivateCase{{".DocumentRevisions-V100", "x.md"}, true},
    PrivateCase{{".config", "GCloud", "x.md"}, true},
    PrivateCase{{".config", "gcloud"}, true},
    PrivateCase{{".config", "other", "x.md"}, false},
    PrivateCase{{".config", "gcl\xC3\xB6ud", "x.md"}, true},  // non-ASCII after .config
    PrivateCase{{"config", "gcloud", "x.md"}, false},
    PrivateCase{{"gcloud", ".config", "x.md"}, false},
    PrivateCase{{".\xD1\x95sh", "x.md"}, true},  // Cyrillic dze: looks like ".ssh"
    PrivateCase{{".n\xC3\xB6tes", "x.md"}, true},  // any non-ASCII hidden name
    PrivateCase{{"n\xC3\xB6tes", "x.md"}, false},  // non-ASCII is fine when not hidden
    PrivateCase{{".cache", "x.md"}, false}));       // heavy, not secret

// --- lexical --------------------------------------------------------------------

struct LexicalCase {
    std::string path;
    std::optional<std::string> refusal;  // nothing: accepted
};

class Lexical : public testing::TestWithParam<LexicalCase> {};

TEST_P(Lexical, Judges) {
    const auto& c = GetParam();
    auto error = refusal([&] { Files::lexical(c.path, std::string("/home/u/docs")); });
    if (c.refusal) {
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(error->status, 403);
        EXPECT_EQ(error->message, *c.refusal) << c.path;
    } else {
        EXPECT_FALSE(error) << c.path << ": " << error->message;
        if (!error) {
            EXPECT_EQ(Files::lexical(c.path, std::string("/home/u/docs")), "/home/u/docs/" + c.path);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Lexical, testing::Values(
    LexicalCase{"a.md", std::nullopt},
    LexicalCase{"Notes/Plan.MD", std::nullopt},
    LexicalCase{"a.Markdown", std::nullopt},
    LexicalCase{".github/readme.md", std::nullopt},
    LexicalCase{".notes/x.md", std::nullopt},
    LexicalCase{".config/other/x.md", std::nullopt},
    LexicalCase{"a.txt", notMarkdownMessage},
    LexicalCase{"a.md.txt", notMarkdownMessage},
    LexicalCase{"notes/README", notMarkdownMessage},
    LexicalCase{"a//b.md", privateMessage},
    LexicalCase{"a/b.md/", privateMessage},
    LexicalCase{"./a.md", privateMessage},
    LexicalCase{"a/../b.md", privateMessage},
    LexicalCase{".", privateMessage},
    LexicalCase{"..", privateMessage},
    LexicalCase{".hidden.md", privateMessage},
    LexicalCase{"docs/.hidden.md", privateMessage},
    LexicalCase{".git/x.md", privateMessage},
    LexicalCase{"docs/.SSH/x.md", privateMessage},
    LexicalCase{".Trash/x.md", privateMessage},
    LexicalCase{".config/GCloud/x.md", privateMessage},
    LexicalCase{".\xD1\x95sh/id.md", privateMessage},
    LexicalCase{"/etc/x.md", notRelativeMessage},
    LexicalCase{"a\\b.md", notRelativeMessage},
    LexicalCase{"", notRelativeMessage},
    LexicalCase{std::string("a\0b.md", 6), notRelativeMessage},
    LexicalCase{"/", notRelativeMessage},
    // the order of the checks: relative first, then private, then Markdown
    LexicalCase{"/.git/x.txt", notRelativeMessage},
    LexicalCase{"a\\..\\b.txt", notRelativeMessage},
    LexicalCase{".git/x.txt", privateMessage},
    LexicalCase{"a//b.txt", privateMessage}));

TEST(FilesLexical, NoFolderComesBeforeEveryOtherCheck) {
    for (std::string path : {"a.md", "", "/etc/x.md", "a\\b.md", ".git/x.md", "a.txt", "a//b.md", "caf\xE9.md"}) {
        auto error = refusal([&] { Files::lexical(path, std::nullopt); });
        ASSERT_TRUE(error) << path;
        EXPECT_EQ(*error, BridgeError(403, noFolderMessage)) << path;
    }
}

// A name the page cannot be answered about is a request it could not have
// made from a listing: refused whatever else is wrong with the path.
TEST(FilesLexical, APathThatIsNotUTF8IsRefusedWith400) {
    for (std::string path : {"caf\xE9.md", "caf\xE9/a.md", "a/\xC0\xAF.md", ".\xFF/a.md", "/etc/caf\xE9.md",
                             "caf\xE9.txt", "a/\xED\xA0\x80.md"}) {
        EXPECT_EQ(refusal([&] { Files::lexical(path, std::string("/home/u/docs")); }),
                  BridgeError(400, kNotUTF8))
            << path;
    }
}

TEST(FilesLexical, AppendsThePathAsWrittenWithoutDoublingASlash) {
    EXPECT_EQ(Files::lexical("Notes/Plan.MD", std::string("/home/u/docs")), "/home/u/docs/Notes/Plan.MD");
    EXPECT_EQ(Files::lexical("a.md", std::string("/home/u/docs/")), "/home/u/docs/a.md");
    EXPECT_EQ(Files::lexical("a.md", std::string("/")), "/a.md");
}

TEST(FilesLexical, TouchesNoDisk) {
    // A folder that does not exist is judged on the text alone.
    EXPECT_EQ(Files::lexical("x/y.md", std::string("/nonexistent-quillmarsh/folder")),
              "/nonexistent-quillmarsh/folder/x/y.md");
}

// --- realPath -------------------------------------------------------------------

TEST(FilesRealPath, ResolvesDotsAndKeepsMissingParts) {
    EXPECT_EQ(Files::realPath("/"), "/");
    EXPECT_EQ(Files::realPath(""), "/");
    EXPECT_EQ(Files::realPath("/.."), "/");
    EXPECT_EQ(Files::realPath("/nonexistent-quillmarsh/./a/../b//c/"), "/nonexistent-quillmarsh/b/c");
}

TEST(FilesRealPath, FollowsRelativeAndAbsoluteLinks) {
    TempDir dir;
    std::string root = Files::realPath(dir.path().string());
    fs::create_directories(dir / "real/sub");
    link("real/sub", dir / "rel");          // relative, read from the folder holding the link
    link(root + "/real", dir / "abs");      // absolute, restarts at the root
    link("../real", dir / "real/up");       // through ".."
    EXPECT_EQ(Files::realPath(dir / "rel/x.md"), root + "/real/sub/x.md");
    EXPECT_EQ(Files::realPath(dir / "abs/sub/x.md"), root + "/real/sub/x.md");
    EXPECT_EQ(Files::realPath(dir / "real/up/up/up/sub"), root + "/real/sub");
    EXPECT_EQ(Files::realPath(dir / "rel/../x.md"), root + "/real/x.md");  // ".." after the link's target
}

TEST(FilesRealPath, ALongTargetIsReadWhole) {
    TempDir dir;
    std::string root = Files::realPath(dir.path().string());
    std::string longName(200, 'n');
    std::string target = root + "/" + longName + "/" + longName + "/" + longName;  // longer than 256
    link(target, dir / "long");
    EXPECT_EQ(Files::realPath(dir / "long/x.md"), target + "/x.md");
}

TEST(FilesRealPath, FollowsAtMost64LinksAndRefusesMore) {
    TempDir dir;
    std::string root = Files::realPath(dir.path().string());
    // A chain l0 -> l1 -> ... -> l65: 64 hops from l1 end on l65, a plain name;
    // from l0 the 65th link is one too many.
    for (int i = 0; i < 65; ++i) link("l" + std::to_string(i + 1), dir / ("l" + std::to_string(i)));
    EXPECT_EQ(Files::realPath(root + "/l1"), root + "/l65");
    EXPECT_EQ(refusal([&] { Files::realPath(root + "/l0"); }), BridgeError(403, "path goes through too many links"));
}

// --- resolve --------------------------------------------------------------------

class FilesResolve : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp.path() / "docs");
        folder = Files::realPath(tmp / "docs");
    }
    void TearDown() override { Files::testSeams().beforeDisk = nullptr; }

    std::optional<BridgeError> resolveRefusal(const std::string& path) {
        return refusal([&] { Files::resolve(path, folder); });
    }

    TempDir tmp;
    std::string folder;
};

TEST_F(FilesResolve, AnExistingDocumentResolvesToItself) {
    tmp.write("docs/notes/plan.md", "# Plan");
    EXPECT_EQ(Files::resolve("notes/plan.md", folder), folder + "/notes/plan.md");
}

TEST_F(FilesResolve, ADocumentThatDoesNotExistYetResolves) {
    EXPECT_EQ(Files::resolve("new/doc.md", folder), folder + "/new/doc.md");
}

TEST_F(FilesResolve, LexicalRefusalsPassThrough) {
    EXPECT_EQ(refusal([&] { Files::resolve("a.md", std::nullopt); }), BridgeError(403, noFolderMessage));
    EXPECT_EQ(resolveRefusal("../x.md"), BridgeError(403, privateMessage));
    EXPECT_EQ(resolveRefusal("/etc/x.md"), BridgeError(403, notRelativeMessage));
    EXPECT_EQ(resolveRefusal("a.txt"), BridgeError(403, notMarkdownMessage));
}

TEST_F(FilesResolve, ALinkOutOfTheFolderLeavesIt) {
    std::string outside = tmp.write("outside.md", "secret");
    link(outside, folder + "/out.md");
    EXPECT_EQ(Files::lexical("out.md", folder), folder + "/out.md");
    EXPECT_EQ(resolveRefusal("out.md"), BridgeError(403, leavesMessage));
}

TEST_F(FilesResolve, ARelativeLinkUpAndOutLeavesIt) {
    tmp.write("outside.md", "secret");
    link("../outside.md", folder + "/up.md");
    EXPECT_EQ(resolveRefusal("up.md"), BridgeError(403, leavesMessage));
}

TEST_F(FilesResolve, ALinkedFolderOutsideLeavesIt) {
    fs::create_directories(tmp / "elsewhere");
    link("../elsewhere", folder + "/sub");
    EXPECT_EQ(resolveRefusal("sub/x.md"), BridgeError(403, leavesMessage));
}

TEST_F(FilesResolve, ALinkIntoASecretFolderInsideIsPrivate) {
    tmp.write("docs/.ssh/id", "key");
    link(".ssh/id", folder + "/k.md");
    EXPECT_EQ(resolveRefusal("k.md"), BridgeError(403, privateMessage));
}

TEST_F(FilesResolve, ALinkToAHiddenFileOrFolderInsideIsPrivate) {
    tmp.write("docs/.env", "TOKEN=1");
    fs::create_directories(folder + "/.git");
    link(".env", folder + "/env.md");
    link(".git", folder + "/g");
    EXPECT_EQ(resolveRefusal("env.md"), BridgeError(403, privateMessage));
    EXPECT_EQ(resolveRefusal("g/x.md"), BridgeError(403, privateMessage));
}

TEST_F(FilesResolve, ALinkToAPlainFileInsideGivesThatFile) {
    // The Markdown test applies to the name as written, not to the target's.
    tmp.write("docs/notes.txt", "plain");
    link("notes.txt", folder + "/n.md");
    EXPECT_EQ(Files::resolve("n.md", folder), folder + "/notes.txt");
}

TEST_F(FilesResolve, ALinkToANameThatIsNotUTF8IsRefusedWith400) {
    tmp.write("docs/caf\xE9.md", "x");
    fs::create_directories(folder + "/d\xE9j\xE0");
    link("caf\xE9.md", folder + "/cafe.md");
    link("d\xE9j\xE0", folder + "/sub");
    link("absent\xFF.md", folder + "/new.md");  // saving a new document writes the target
    for (std::string path : {"cafe.md", "sub/x.md", "new.md"}) {
        EXPECT_EQ(resolveRefusal(path), BridgeError(400, kNotUTF8)) << path;
        Files::LinkCache links;
        EXPECT_EQ(refusal([&] { Files::resolve(path, folder, &links); }), BridgeError(400, kNotUTF8)) << path;
    }
}

TEST_F(FilesResolve, AnAbsoluteLinkInsideIsAccepted) {
    tmp.write("docs/real/a.md", "a");
    link(folder + "/real", folder + "/shortcut");
    EXPECT_EQ(Files::resolve("shortcut/a.md", folder), folder + "/real/a.md");
}

TEST_F(FilesResolve, TheFolderItselfLeavesIt) {
    link(".", folder + "/self.md");
    EXPECT_EQ(resolveRefusal("self.md"), BridgeError(403, leavesMessage));
    link("..", folder + "/parent.md");
    EXPECT_EQ(resolveRefusal("parent.md"), BridgeError(403, leavesMessage));
}

TEST_F(FilesResolve, RunningOutOfLinksIsRefusedWhereverTheRestLeads) {
    // Past the budget the rest of the path would be left to the system, which
    // follows its links wherever they lead: outside, in the last two cases.
    fs::create_directories(tmp / "outside");
    tmp.write("outside/secret.md", "secret");
    link("b.md", folder + "/a.md");
    link("a.md", folder + "/b.md");
    link("self.md", folder + "/self.md");
    link(".", folder + "/me");
    link("../outside", folder + "/linkdir");
    for (int i = 0; i < 65; ++i) link("c" + std::to_string(i + 1) + ".md", folder + "/c" + std::to_string(i) + ".md");
    link(tmp / "outside/secret.md", folder + "/c65.md");
    std::string me64;
    for (int i = 0; i < 64; ++i) me64 += "me/";
    for (const std::string& path : std::vector<std::string>{"a.md", "b.md", "self.md", "c0.md", me64 + "linkdir/secret.md"}) {
        EXPECT_EQ(resolveRefusal(path), BridgeError(403, "path goes through too many links")) << path.substr(0, 40);
    }
    // Within the budget a chain is followed as ever, and here leaves the folder.
    EXPECT_EQ(resolveRefusal("c2.md"), BridgeError(403, leavesMessage));
}

TEST_F(FilesResolve, AFolderOpenedThroughALinkGivesRealPaths) {
    // Like a folder opened through a link to it, or through a linked folder above it.
    link(folder, tmp / "docs-link");
    EXPECT_EQ(Files::resolve("a.md", tmp / "docs-link"), folder + "/a.md");
    EXPECT_EQ(Files::resolve("a.md", tmp / "docs-link/"), folder + "/a.md");
}

TEST_F(FilesResolve, BeforeDiskSeesTheWrittenPathOnlyWhenTheDiskIsTouched) {
    std::vector<std::string> seen;
    Files::testSeams().beforeDisk = [&](const std::string& path) { seen.push_back(path); };
    link("notes.txt", folder + "/n.md");
    Files::resolve("n.md", folder);
    resolveRefusal(".git/x.md");  // refused before the disk
    resolveRefusal("a.txt");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], folder + "/n.md");
}

TEST_F(FilesResolve, AnUnreadableFolderIsTakenLiterally) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    fs::create_directories(folder + "/locked");
    fs::permissions(folder + "/locked", fs::perms::none);
    EXPECT_EQ(Files::resolve("locked/x.md", folder), folder + "/locked/x.md");
    fs::permissions(folder + "/locked", fs::perms::owner_all);
}

// A batch remembers what it saw and looks names up from their folders; it must
// come to the same answer as looking at each path alone, links and all.
TEST_F(FilesResolve, ABatchAnswersAsSingleLookUpsDo) {
    for (int i = 0; i < 5; ++i) tmp.write("docs/notes/n" + std::to_string(i) + ".md", "n");
    tmp.write("docs/real/a.md", "a");
    tmp.write("docs/.ssh/id", "key");
    tmp.write("docs/notes.txt", "plain");
    tmp.write("outside.md", "secret");
    link("notes", folder + "/shortcut");
    link(folder + "/real", folder + "/abs");
    link("../outside.md", folder + "/notes/up.md");
    link("../.ssh/id", folder + "/notes/key.md");
    link("../notes.txt", folder + "/notes/plain.md");
    link("b.md", folder + "/notes/a.md");
    link("a.md", folder + "/notes/b.md");
    link(".", folder + "/notes/self.md");

    std::vector<std::string> paths = {
        "notes/n0.md", "notes/n1.md", "shortcut/n2.md", "notes/n3.md", "abs/a.md",      "shortcut/up.md",
        "notes/up.md", "notes/key.md", "notes/plain.md", "notes/a.md", "shortcut/b.md", "notes/self.md",
        "notes/new.md", "missing/x.md", ".ssh/x.md",     "notes/n4.md", "real/a.md",     "abs/../notes/n0.md",
    };
    Files::LinkCache links;
    for (int round = 0; round < 2; ++round) {  // the second round answers from what the first saw
        for (const auto& path : paths) {
            std::string alone;
            std::string batched;
            auto aloneRefusal = refusal([&] { alone = Files::resolve(path, folder); });
            auto batchRefusal = refusal([&] { batched = Files::resolve(path, folder, &links); });
            EXPECT_EQ(batchRefusal, aloneRefusal) << path;
            EXPECT_EQ(batched, alone) << path;
        }
    }

    // What the batch saw of a document is what lstat sees.
    struct stat expected;
    ASSERT_EQ(::lstat((folder + "/notes/n1.md").c_str(), &expected), 0);
    const auto& seen = links.look(folder + "/notes/n1.md");
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->st_ino, expected.st_ino);
    EXPECT_EQ(seen->st_size, expected.st_size);
    EXPECT_FALSE(links.look(folder + "/notes/new.md").has_value());
}
