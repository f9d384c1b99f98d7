// Nothing outside the open folder is reachable through the routes that take a
// document, whatever links the folder holds and whatever another program
// changes while a request runs. Every route is driven the same way: a read,
// a save, a version check, the tree, and the reads and saves by handle.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/DocumentRead.hpp"
#include "core/TestSeams.hpp"
#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

namespace {

const char* const outsideText = "outside secret";

// The folder "docs" open, with a folder "outside" beside it holding the
// secret that no route may read, report or change.
struct BoundaryHarness : BridgeHarness {
    BoundaryHarness() {
        fs::create_directories(dir / "docs");
        write("outside/secret.md", outsideText);
        write("outside/sub/a.md", outsideText);
        // As the page's open would, the listing's root included.
        bridge->io.sync([this] { bridge->folder().set(fs::canonical(dir / "docs").string()); });
    }
    ~BoundaryHarness() { Files::testSeams().afterCheck = nullptr; }

    std::string write(const std::string& name, const std::string& bytes) const { return dir.write(name, bytes); }

    Answer get(const std::string& query) { return request("GET", "/api/file" + query, std::string(), tokenHeaders()); }
    Answer put(const std::string& query, const std::string& text, const std::string& base) {
        HeaderMap headers = tokenHeaders();
        headers["X-Quillmarsh-Bytes"] = std::to_string(text.size());
        headers["X-Quillmarsh-Base-Version"] = base;
        return request("PUT", "/api/file" + query, text, headers);
    }
    // The state a version check reports for one item.
    std::string versionOf(const nlohmann::json& item) {
        nlohmann::json body{{"items", {item}}};
        body["items"][0]["key"] = "k";
        auto answer = request("POST", "/api/versions", body.dump(), tokenHeaders());
        return answer.json()["versions"].value("k", "no answer");
    }
    std::string handle(const std::string& path) {
        std::string made;
        bridge->io.sync([&] { made = bridge->handles().handle(path); });
        return made;
    }

    // Every file below a folder with its bytes: what must not change outside,
    // and shows any temporary file left behind.
    std::map<std::string, std::string> files(const std::string& folder) const {
        std::map<std::string, std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(dir / folder)) {
            if (entry.is_regular_file() && !entry.is_symlink()) found[entry.path()] = TempDir::read(entry.path());
        }
        return found;
    }
};

// --- links past the budget ---------------------------------------------------

// A path through one link more than the budget: 64 hops through "me" (the
// folder itself), then "linkdir", which leads outside.
std::string throughTooManyLinks() {
    std::string path;
    for (int i = 0; i < 64; ++i) path += "me/";
    return path + "linkdir/secret.md";
}

struct RouteCase {
    const char* name;
    // Runs the route on the path; returns what it told the page.
    std::function<std::string(BoundaryHarness&, const std::string& path)> run;
    // What the page must be told instead of anything from outside.
    std::string expected;
};

void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }

std::string statusAndError(const Answer& answer) {
    return std::to_string(answer.status) + " " + (answer.status == 200 ? answer.body : answer.error());
}

const std::vector<RouteCase> byPath = {
    {"read", [](BoundaryHarness& h, const std::string& path) { return statusAndError(h.get("?path=" + path)); },
     "403 path goes through too many links"},
    {"save",
     [](BoundaryHarness& h, const std::string& path) {
         return statusAndError(h.put("?path=" + path, "overwritten", Files::version(outsideText)));
     },
     "403 path goes through too many links"},
    {"versions", [](BoundaryHarness& h, const std::string& path) { return h.versionOf({{"path", path}}); },
     "missing"},
};

class LinksPastTheBudget : public testing::TestWithParam<RouteCase> {};

TEST_P(LinksPastTheBudget, AreRefusedAndNothingOutsideIsReadOrWritten) {
    BoundaryHarness h;
    fs::create_symlink(".", h.dir / "docs/me");
    fs::create_symlink("../outside", h.dir / "docs/linkdir");
    auto before = h.files("outside");
    EXPECT_EQ(GetParam().run(h, throughTooManyLinks()), GetParam().expected);
    EXPECT_EQ(h.files("outside"), before);
}

INSTANTIATE_TEST_SUITE_P(Routes, LinksPastTheBudget, testing::ValuesIn(byPath),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LinksPastTheBudget, AChainTooLongOrALoopIsNotListed) {
    BoundaryHarness h;
    h.write("docs/plain.md", "x");
    // c0.md -> c1.md -> ... -> c65.md -> the secret: 66 links.
    for (int i = 0; i < 65; ++i) {
        fs::create_symlink("c" + std::to_string(i + 1) + ".md", h.dir / ("docs/c" + std::to_string(i) + ".md"));
    }
    fs::create_symlink(h.dir / "outside/secret.md", h.dir / "docs/c65.md");
    fs::create_symlink("b.md", h.dir / "docs/a.md");
    fs::create_symlink("a.md", h.dir / "docs/b.md");
    auto tree = h.request("GET", "/api/tree", std::string(), h.tokenHeaders()).json();
    EXPECT_EQ(tree["files"], nlohmann::json::parse(R"([{"path": "plain.md", "offline": false}])"));
}

// --- a folder swapped for a link between the check and the use ----------------

// At the moment the path rules have accepted a path, another program moves
// the document's folder away and puts a link to the outside in its place.
void swapAtTheCheck(BoundaryHarness& h, const std::string& folder) {
    Files::testSeams().afterCheck = [&h, folder, done = false](const std::string&) mutable {
        if (done) return;  // once
        done = true;
        fs::rename(folder, folder + "-moved");
        fs::create_directory_symlink(h.dir / "outside/sub", folder);
    };
}

struct SwapCase {
    const char* name;
    // Runs the route on docs/sub/a.md ("inside") after arranging the swap.
    std::function<std::string(BoundaryHarness&)> run;
    std::string expected;
    // What docs/sub-moved/a.md holds afterwards.
    std::string inside = "inside";
};

void PrintTo(const SwapCase& c, std::ostream* out) { *out << c.name; }

const char* const changedOnDisk = "403 the folder changed on disk while it was opened; try again";

const std::vector<SwapCase> swaps = {
    {"readByPath", [](BoundaryHarness& h) { return statusAndError(h.get("?path=sub/a.md")); }, changedOnDisk},
    {"saveByPath",
     [](BoundaryHarness& h) { return statusAndError(h.put("?path=sub/a.md", "new", Files::version("inside"))); },
     changedOnDisk},
    {"saveNewByPath", [](BoundaryHarness& h) { return statusAndError(h.put("?path=sub/new.md", "new", "new")); },
     changedOnDisk},
    {"versions", [](BoundaryHarness& h) { return h.versionOf({{"path", "sub/a.md"}}); }, "unreadable"},
    {"readByHandle",
     [](BoundaryHarness& h) { return statusAndError(h.get("?file=" + h.handle(h.dir / "docs/sub/a.md"))); },
     changedOnDisk},
    {"saveByHandle",
     [](BoundaryHarness& h) {
         return statusAndError(h.put("?file=" + h.handle(h.dir / "docs/sub/a.md"), "new", Files::version("inside")));
     },
     changedOnDisk},
    {"versionsByHandle",
     [](BoundaryHarness& h) { return h.versionOf({{"file", h.handle(h.dir / "docs/sub/a.md")}}); }, "unreadable"},
};

void swapAndRun(const SwapCase& c) {
    BoundaryHarness h;
    h.write("docs/sub/a.md", "inside");
    auto outsideBefore = h.files("outside");
    swapAtTheCheck(h, h.dir / "docs/sub");
    EXPECT_EQ(c.run(h), c.expected);
    // The swap happened, and neither side gained or lost a byte or a file.
    EXPECT_TRUE(fs::is_symlink(h.dir / "docs/sub"));
    EXPECT_EQ(h.files("outside"), outsideBefore);
    EXPECT_EQ(h.files("docs"), (std::map<std::string, std::string>{{h.dir / "docs/sub-moved/a.md", "inside"}}));
}

class FolderSwappedAfterTheCheck : public testing::TestWithParam<SwapCase> {};

TEST_P(FolderSwappedAfterTheCheck, FailsCleanlyWithNothingFromOrLeftOutside) { swapAndRun(GetParam()); }

// The same where the system has no openat2 and folders are opened part by part.
class FolderSwappedWithoutOpenat2 : public testing::TestWithParam<SwapCase> {
protected:
    void SetUp() override { Files::testSeams().walkFolderParts = true; }
    void TearDown() override { Files::testSeams().walkFolderParts = false; }
};

TEST_P(FolderSwappedWithoutOpenat2, FailsCleanlyWithNothingFromOrLeftOutside) { swapAndRun(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Routes, FolderSwappedAfterTheCheck, testing::ValuesIn(swaps),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Routes, FolderSwappedWithoutOpenat2, testing::ValuesIn(swaps),
                         [](const auto& info) { return std::string(info.param.name); });

class LinksTheRulesAccept : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { Files::testSeams().walkFolderParts = GetParam(); }
    void TearDown() override { Files::testSeams().walkFolderParts = false; }
};

TEST_P(LinksTheRulesAccept, KeepWorking) {
    // The rules hand over the path with its links resolved, so a link inside
    // the folder is no swap: reads and saves through it go on, whichever way
    // the folder is opened.
    BoundaryHarness h;
    h.write("docs/real/a.md", "inside");
    fs::create_directory_symlink(h.dir / "docs/real", h.dir / "docs/alias");
    EXPECT_EQ(statusAndError(h.get("?path=alias/a.md")), "200 inside");
    EXPECT_EQ(statusAndError(h.put("?path=alias/a.md", "new", Files::version("inside"))).substr(0, 3), "200");
    EXPECT_EQ(TempDir::read(h.dir / "docs/real/a.md"), "new");
    EXPECT_TRUE(fs::is_symlink(h.dir / "docs/alias"));
    auto picked = h.handle(h.dir / "docs/alias/a.md");
    EXPECT_EQ(statusAndError(h.put("?file=" + picked, "newer", Files::version("new"))).substr(0, 3), "200");
    EXPECT_EQ(TempDir::read(h.dir / "docs/real/a.md"), "newer");
    // A document in a folder a few levels down, and one beside the folder's root.
    h.write("docs/real/b/c/d.md", "deep");
    EXPECT_EQ(statusAndError(h.get("?path=alias/b/c/d.md")), "200 deep");
    EXPECT_EQ(statusAndError(h.put("?path=top.md", "top", "new")).substr(0, 3), "200");
    EXPECT_EQ(statusAndError(h.get("?path=top.md")), "200 top");
}

INSTANTIATE_TEST_SUITE_P(FolderOpened, LinksTheRulesAccept, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "partByPart" : "withOpenat2"; });

}  // namespace
