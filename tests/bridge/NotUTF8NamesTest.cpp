// Names that are not UTF-8: the disk allows any bytes in a name, but such a
// name cannot be written in a JSON answer or in Open Recent. Every way a
// document or folder enters refuses it before anything is written, remembered
// or given a handle, and Open Recent goes on working afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>

#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

namespace {

const nlohmann::json fileRefused = {{"error", "the file name is not valid UTF-8"}};
const nlohmann::json folderRefused = {{"error", "the folder name is not valid UTF-8"}};

// An open folder "docs" holding good.md, café.md in Latin-1 ("caf\xE9.md"), a
// link to it and a link to a Latin-1 name not yet written; beside it a
// Latin-1 folder and a link to that folder.
struct Place {
    Place() {
        good = h.dir.write("place/docs/good.md", "good");
        bad = h.dir.write("place/docs/caf\xE9.md", "old");
        fs::create_symlink("caf\xE9.md", h.dir / "place/docs/link.md");
        fs::create_symlink("new\xE9.md", h.dir / "place/docs/new-link.md");
        h.dir.write("place/docs\xE9/a.md", "a");
        fs::create_directory_symlink("docs\xE9", h.dir / "place/alias");
        EXPECT_EQ(choose("/api/choose-folder", {h.dir / "place/docs"}).status, 200);
    }

    Answer choose(const std::string& route, std::vector<std::string> paths) {
        h.platform.panelAnswers.push_back({true, std::move(paths)});
        return h.request("POST", route);
    }

    Answer save(const std::string& query) {
        HeaderMap headers = h.tokenHeaders();
        headers["X-Quillmarsh-Bytes"] = "4";
        headers["X-Quillmarsh-Base-Version"] = "new";
        return h.request("PUT", "/api/file?path=" + query, "text", headers);
    }

    // Gives the paths to the program as the file manager does, then collects them as the page does.
    Answer handOver(std::vector<std::string> paths) {
        bool told = false;
        h.bridge->onOpenRequested = [&] { told = true; };
        h.bridge->handOverFromFinder(std::move(paths));
        EXPECT_TRUE(h.pumpUntil([&] { return told; }));
        h.bridge->onOpenRequested = nullptr;
        return h.request("POST", "/api/opened");
    }

    // An Open Recent entry whose bookmark leads to `target`.
    void rememberLeadingTo(const std::string& kind, const std::string& path, const std::string& target) {
        h.bookmarks.leadsTo["QUJD"] = target;
        h.bridge->io.sync([&] { h.bridge->recent().add(kind, path, "QUJD"); });
    }

    BridgeHarness h;
    std::string good;
    std::string bad;
};

// Every name below `top` with what it holds, links as their targets: equal
// before and after means nothing was written.
std::map<std::string, std::string> onDisk(const fs::path& top) {
    std::map<std::string, std::string> seen;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        std::string path = entry.path().string();
        if (entry.is_symlink()) seen[path] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file()) seen[path] = TempDir::read(path);
        else seen[path] = "folder";
    }
    return seen;
}

struct EntryCase {
    const char* name;
    // What the entry point needs beyond the common place; may be empty.
    std::function<void(Place&)> prepare;
    std::function<Answer(Place&)> act;
    int status;
    nlohmann::json body;
};

void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.name; }

class NotUTF8Name : public testing::TestWithParam<EntryCase> {};

TEST_P(NotUTF8Name, IsRefusedBeforeAnythingIsDoneAndOpenRecentStaysWhole) {
    const EntryCase& c = GetParam();
    Place p;
    if (c.prepare) c.prepare(p);
    auto disk = onDisk(p.h.dir / "place");
    nlohmann::json recent = p.h.request("GET", "/api/recent").json();
    std::optional<std::string> root;
    root = p.h.bridge->folder().current();

    Answer answer = c.act(p);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(nlohmann::json::parse(answer.body, nullptr, false), c.body) << answer.body;

    EXPECT_EQ(onDisk(p.h.dir / "place"), disk);
    Answer listed = p.h.request("GET", "/api/recent");
    EXPECT_EQ(listed.status, 200);
    EXPECT_EQ(nlohmann::json::parse(listed.body, nullptr, false), recent) << listed.body;
    p.h.bridge->io.sync([&] {
        EXPECT_TRUE(p.h.bridge->handles().current()->empty());
        EXPECT_EQ(p.h.bridge->folder().current(), root);
    });
    // Open Recent is still saved: the next document read reaches the file.
    ASSERT_EQ(p.h.request("GET", "/api/file?path=good.md").status, 200);
    p.h.bridge->io.sync([] {});  // the read adds to Open Recent on io, before it answers
    auto saved = nlohmann::json::parse(TempDir::read(p.h.bridge->recent().path()), nullptr, false);
    ASSERT_TRUE(saved.is_array() && !saved.empty()) << saved;
    EXPECT_EQ(saved[0]["path"], fs::canonical(p.good).string());
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, NotUTF8Name,
    testing::Values(
        EntryCase{"ReadByPath", nullptr, [](Place& p) { return p.h.request("GET", "/api/file?path=caf%E9.md"); },
                  400, fileRefused},
        EntryCase{"ReadThroughALink", nullptr, [](Place& p) { return p.h.request("GET", "/api/file?path=link.md"); },
                  400, fileRefused},
        EntryCase{"SaveByPath", nullptr, [](Place& p) { return p.save("new%E9.md"); }, 400, fileRefused},
        EntryCase{"SaveThroughALink", nullptr, [](Place& p) { return p.save("new-link.md"); }, 400, fileRefused},
        // A version check never fails as a whole: the document is "missing".
        EntryCase{"VersionCheckThroughALink", nullptr,
                  [](Place& p) {
                      return p.h.request("POST", "/api/versions", R"({"items": [{"key": "k", "path": "link.md"}]})");
                  },
                  200, {{"versions", {{"k", "missing"}}}}},
        EntryCase{"ChooseFolder", nullptr,
                  [](Place& p) { return p.choose("/api/choose-folder", {p.h.dir / "place/docs\xE9"}); }, 400,
                  folderRefused},
        EntryCase{"ChooseFolderThroughALink", nullptr,
                  [](Place& p) { return p.choose("/api/choose-folder", {p.h.dir / "place/alias"}); }, 400,
                  folderRefused},
        // One bad name among several: none of them is opened.
        EntryCase{"ChooseFiles", nullptr, [](Place& p) { return p.choose("/api/choose-files", {p.good, p.bad}); },
                  400, fileRefused},
        EntryCase{"ChooseFile", nullptr, [](Place& p) { return p.choose("/api/choose-file", {p.bad}); }, 400,
                  fileRefused},
        EntryCase{"ChooseSave", nullptr,
                  [](Place& p) { return p.choose("/api/choose-save", {p.h.dir / "place/docs/new\xE9"}); }, 400,
                  fileRefused},
        EntryCase{"OpenRecentFileLedAwayByItsBookmark",
                  [](Place& p) { p.rememberLeadingTo("file", p.good, p.bad); },
                  [](Place& p) { return p.h.request("POST", "/api/recent/open?index=0"); }, 400, fileRefused},
        EntryCase{"OpenRecentFolderLedAwayByItsBookmark",
                  [](Place& p) { p.rememberLeadingTo("folder", p.h.dir / "place/docs", p.h.dir / "place/docs\xE9"); },
                  [](Place& p) { return p.h.request("POST", "/api/recent/open?index=0"); }, 400, folderRefused},
        // Left out like any other document the program cannot open.
        EntryCase{"HandedOver", nullptr, [](Place& p) { return p.handOver({p.bad}); }, 200,
                  nlohmann::json::parse(R"({"files": [], "skipped": 1})")}),
    [](const testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.name); });

}  // namespace
