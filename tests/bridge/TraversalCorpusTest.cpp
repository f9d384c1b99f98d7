// Hostile references against every route that takes a path, a picture
// reference, a file name or an id the page chooses: dot segments, encoded and
// double-encoded separators, NUL, overlong UTF-8, look-alike dots and
// slashes, backslashes, trailing dots and spaces, names and paths past the
// system's limits, absolute paths, "~", links out of the folder, link loops
// and links into private folders, and mixes of them.
//
// Whatever the answer, it never carries a byte of what lies outside the open
// folder or inside its private parts, nothing there changes, and no file
// appears there. Each route also answers one ordinary request, so that a route
// refusing everything cannot pass for a safe one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "core/DocumentRead.hpp"
#include "tests/support/BridgeHarness.hpp"

namespace fs = std::filesystem;

namespace {

// Texts no answer may carry: what lies outside the folder, in its private
// parts, and a system file.
const std::string outsideMarker = "outside-marker-5f3a9c";
const std::string privateMarker = "private-marker-c81e07";
const std::string systemMarker = "root:x:0:0";
// A picture's signature with a marker of its own.
const std::string secretPicture = std::string("\x89PNG\r\n\x1a\n", 8) + "secret-picture-0b7d42";
const std::string insidePicture = std::string("\x89PNG\r\n\x1a\n", 8) + "inside-picture";
// The name every reference meant to write lands on; it must appear nowhere.
const char* const escapedName = "escaped.md";

// ---- the corpus ----------------------------------------------------------------

std::string withNul(const std::string& before, const std::string& after) { return before + '\0' + after; }

// Ways of writing "../": each one a step up if any layer decoded, folded or
// trimmed what it should not.
const std::vector<std::string> stepsUp = {
    "../",
    "..\\",
    "%2e%2e%2f",
    "%2E%2E%2F",
    "%2e%2e/",
    "..%2f",
    ".%2e/",
    "%252e%252e%252f",
    "..%252f",
    "%25252e%25252e%25252f",
    "%c0%ae%c0%ae/",
    "..%c0%af",
    "\xC0\xAE\xC0\xAE/",                  // overlong "."
    "\xE0\x80\xAE\xE0\x80\xAE/",          // overlong "." in three bytes
    "\xF0\x80\x80\xAE\xF0\x80\x80\xAE/",  // and in four
    "..\xC0\xAF",                         // overlong "/"
    "..\xE0\x80\xAF",
    "\xE2\x80\xA4\xE2\x80\xA4/",  // ONE DOT LEADER
    "\xE2\x80\xA5/",              // TWO DOT LEADER
    "\xEF\xBC\x8E\xEF\xBC\x8E/",  // FULLWIDTH FULL STOP
    "..\xE2\x88\x95",             // DIVISION SLASH
    "..\xEF\xBC\x8F",             // FULLWIDTH SOLIDUS
    "..\xE2\xA7\xB8",             // BIG SOLIDUS
    "..\xE2\x81\x84",             // FRACTION SLASH
    "....//",
    "..;/",
    ".. /",
    "../ ",
    "..\t/",
    "..%00/",
    withNul("..", "/"),
    ".../",
    "..././",
};

// Where a step up from the folder would land.
const std::vector<std::string> targets = {"outside/secret.md", "outside/secret.png", std::string("outside/") + escapedName};

std::vector<std::string> handWritten() {
    std::string deep;
    for (int i = 0; i < 2100; ++i) deep += "a/";
    std::string upAndUp;
    for (int i = 0; i < 40; ++i) upAndUp += "../";
    std::string dots;
    for (int i = 0; i < 3000; ++i) dots += "./";
    std::string selves;
    for (int i = 0; i < 70; ++i) selves += "self/";
    return {
        // Plain dot segments, empty parts, the folder itself.
        "", ".", "..", "./", "../", "/", "//", "sub/..", "sub/../..", "./doc.md", "sub//doc.md", "sub/./../doc.md",
        "../outside/secret.md", "sub/../../outside/secret.md", "../../y/outside/secret.md", "./../outside/secret.md",
        "../docs/../outside/secret.md", upAndUp + "etc/passwd", upAndUp + "tmp/" + escapedName,
        // Absolute paths, "~", URLs.
        "{OUT}/secret.md", "{OUT}/secret.png", std::string("{OUT}/") + escapedName, "{DOCS}/doc.md",
        "{DOCS}/../outside/secret.md", "/etc/passwd", "//etc/passwd", "///etc/passwd", "file:///etc/passwd",
        "file://{OUT}/secret.md", "~", "~/", "~/.ssh/id_rsa", "~root/.ssh/id_rsa", "$HOME/.ssh/id_rsa",
        "%2fetc%2fpasswd", "%2Fetc%2Fpasswd", "%252Fetc%252Fpasswd", "C:\\Windows\\win.ini", "C:/escaped.md",
        "\\\\server\\share\\secret.md", "\\\\?\\C:\\secret.md", "\\etc\\passwd",
        // NUL, raw and encoded, and other control characters.
        withNul("doc.md", "../../outside/secret.md"), withNul("", ""), "%00", "doc.md%00.png",
        "..%00/outside/secret.md", withNul("out.md", ".png"), "doc\n.md", "doc.md\n", "doc.md\r",
        "\x7f" "doc.md",
        // Backslashes.
        "..\\outside\\secret.md", "sub\\..\\..\\outside\\secret.md", "\\..\\outside\\secret.md", "..\\\\outside",
        // Trailing dots and spaces, stream and device names.
        "out.md.", "out.md ", "out.md...", "out.md. . .", "... ", ".. ", " ..", "doc.md/", "doc.md/.", "doc.md/..",
        "doc.md::$DATA", "CON", "nul.md", "aux/escaped.md",
        // Past the limits of a name and of a path.
        std::string(256, 'a') + ".md", std::string(300, 'b') + ".png", std::string(5000, 'c'), deep + "d.md",
        dots + "doc.md", dots + "../outside/secret.md", std::string(4097, '/') + "etc/passwd",
        // Links out of the folder, a dangling one, loops, past the link budget.
        "out/secret.md", "out/secret.png", "out/sub/a.md", std::string("out/") + escapedName, "out.md", "abs.md",
        "pic.png", "dangling.md", "danglingdir/escaped.md", "loop1", "loop1/x.md", "loop1.md", "loopdir/x.md",
        "self/out/secret.md", selves + "doc.md", "up/outside/secret.md", "up/docs/doc.md", "out/../docs/doc.md",
        // Private folders and hidden files, directly, in another case, through links.
        ".git", ".git/", ".git/config", ".git/secret.md", ".GIT/secret.md", ".Git/secret.md", ".git/pic.png",
        ".ssh/secret.md", ".config/gcloud/secret.md", ".Trash/secret.md", ".hidden.md", "sub/.hidden.md",
        "sub/../.git/secret.md", ".git/../doc.md", "gitlink/secret.md", "gitfile.md", "gitpic.png",
        ".git%2fsecret.md", "%2egit/secret.md", "%2Egit%2Fsecret.md", ".git\\secret.md", ".git/escaped.md",
        std::string(".git/") + escapedName,
        // Mixes: encodings around real links and private names.
        "out%2fsecret.md", "out%252fsecret.md", "sub/..%2f..%2foutside/secret.md", "self/..%2f" "outside/secret.md",
        "self\\..\\outside\\secret.md", "\xEF\xBC\x8Egit/secret.md", ".git\xE2\x88\x95secret.md",
        "out\xEF\xBC\x8Fsecret.md", "%", "%zz", "%2", "?path=../outside/secret.md", "#../outside/secret.md",
        "doc.md?../outside/secret.md", "doc.md#../../outside/secret.md", "inside.png?x=../../outside/secret.png",
        " ../outside/secret.png", "\t../outside/secret.png", "./%2e%2e/outside/secret.png",
    };
}

std::vector<std::string> corpus() {
    std::vector<std::string> all = handWritten();
    for (const auto& step : stepsUp) {
        for (const auto& target : targets) all.push_back(step + target);
        all.push_back("sub/" + step + step + "outside/secret.md");
    }
    return all;
}

// ---- the fixture -------------------------------------------------------------

// An open folder "docs" three levels down a work tree, with a folder
// "outside" beside it holding the secrets, links from inside pointing out,
// loops, and private folders inside.
struct CorpusHarness : BridgeHarness {
    fs::path root;
    fs::path docs;
    fs::path outside;

    CorpusHarness() {
        root = fs::path(dir.path()) / "w/x/y";
        docs = root / "docs";
        outside = root / "outside";
        put(docs / "doc.md", "# inside\n");
        put(docs / "sub/doc.md", "# inside sub\n");
        put(docs / "inside.png", insidePicture);
        put(docs / "plugins/keep.md", "plugin file\n");
        put(outside / "secret.md", outsideMarker);
        put(outside / "secret.png", secretPicture);
        put(outside / "sub/a.md", outsideMarker);
        for (const char* hidden : {".git/config", ".git/secret.md", ".ssh/secret.md", ".config/gcloud/secret.md",
                                   ".Trash/secret.md", ".hidden.md", "sub/.hidden.md"}) {
            put(docs / hidden, privateMarker);
        }
        put(docs / ".git/pic.png", secretPicture);
        fs::create_directory_symlink("../outside", docs / "out");
        fs::create_symlink("../outside/secret.md", docs / "out.md");
        fs::create_symlink(outside / "secret.md", docs / "abs.md");
        fs::create_symlink("../outside/secret.png", docs / "pic.png");
        fs::create_symlink(std::string("../outside/") + escapedName, docs / "dangling.md");
        fs::create_symlink("../outside/newdir", docs / "danglingdir");
        fs::create_symlink("loop2", docs / "loop1");
        fs::create_symlink("loop1", docs / "loop2");
        fs::create_symlink("loop1.md", docs / "loop1.md");
        fs::create_directory_symlink("loopdir", docs / "loopdir");
        fs::create_directory_symlink(".", docs / "self");
        fs::create_directory_symlink("..", docs / "up");
        fs::create_directory_symlink(".git", docs / "gitlink");
        fs::create_symlink(".git/secret.md", docs / "gitfile.md");
        fs::create_symlink(".git/pic.png", docs / "gitpic.png");
        // As the page's open would.
        bridge->io.sync([this] { bridge->folder().set(fs::canonical(docs).string()); });
    }

    static void put(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::string expand(std::string reference) const {
        for (auto [name, value] : {std::pair{"{OUT}", outside.string()}, std::pair{"{DOCS}", docs.string()}}) {
            for (std::size_t at; (at = reference.find(name)) != std::string::npos;) reference.replace(at, 5, value);
        }
        return reference;
    }

    Answer send(const std::string& method, const std::string& target, const std::string& body = std::string()) {
        return request(method, target, body, tokenHeaders());
    }

    Answer save(const std::string& query, const std::string& text) {
        HeaderMap headers = tokenHeaders();
        headers["X-Quillmarsh-Bytes"] = std::to_string(text.size());
        headers["X-Quillmarsh-Base-Version"] = "";
        return request("PUT", "/api/file?" + query, text, headers);
    }

    // Everything that must not change: the whole work tree but the open
    // folder's ordinary files and the program's own data and editor folders.
    // Each entry's kind, size and time, links not followed.
    std::map<std::string, std::string> guarded() const {
        std::map<std::string, std::string> found;
        fs::path top = dir.path();
        for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
            fs::path relative = it->path().lexically_relative(top);
            std::string first = relative.begin()->string();
            if (first == "data" || first == "editor") {
                it.disable_recursion_pending();
                continue;
            }
            if (isOrdinaryInsideDocs(it->path())) continue;
            struct stat info {};
            if (::lstat(it->path().c_str(), &info) != 0) continue;
            std::ostringstream facts;
            facts << (info.st_mode & S_IFMT) << ' ' << info.st_size << ' ' << info.st_mtim.tv_sec << '.'
                  << info.st_mtim.tv_nsec;
            found[relative.string()] = facts.str();
        }
        return found;
    }

    // A file of the open folder the page may create and change: below the
    // folder, with no hidden part and not the fixture's links.
    bool isOrdinaryInsideDocs(const fs::path& path) const {
        if (path == docs) return true;
        fs::path relative = path.lexically_relative(docs);
        if (relative.empty() || *relative.begin() == "..") return false;
        if (fs::is_symlink(path)) return false;
        for (const auto& part : relative) {
            if (part.string().starts_with(".")) return false;
        }
        return true;
    }
};

std::string printable(const std::string& reference) {
    std::string shown;
    for (unsigned char c : reference.substr(0, 120)) {
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        }
    }
    return reference.size() > 120 ? shown + "... (" + std::to_string(reference.size()) + " bytes)" : shown;
}

// The reference as a query value that arrives exactly as written.
std::string encoded(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

// A JSON string of the reference's bytes as they are: a body the page could
// not make from a string that is not UTF-8 is still one an attacker can send.
std::string jsonText(const std::string& value) {
    std::string out = "\"";
    for (unsigned char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// ---- the routes ---------------------------------------------------------------

struct RouteCase {
    const char* name;
    // The rows of the route table this case drives.
    std::vector<std::string> rows;
    // Sends the reference (already expanded) and answers what the page got back.
    std::function<std::vector<Answer>(CorpusHarness&, const std::string& reference)> run;
    // An ordinary reference the route must accept, and the text its answer holds.
    std::string ordinary;
    std::string ordinaryAnswer;
};

void PrintTo(const RouteCase& c, std::ostream* out) { *out << c.name; }

// The plugin whose folder is docs/plugins, chosen through the panel.
const char* const pluginId = "corpus-plugin";

void choosePluginFolder(CorpusHarness& h) {
    h.platform.panelAnswers.push_back({true, {(h.docs / "plugins").string()}});
    auto answer = h.send("POST", std::string("/api/plugin-folder/choose?plugin=") + pluginId);
    ASSERT_EQ(answer.status, 200) << answer.body;
}

const std::vector<RouteCase> routeCases = {
    {"Read",
     {"GET /api/file"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{h.send("GET", "/api/file?path=" + encoded(ref)), h.send("GET", "/api/file?path=" + ref),
                            h.send("GET", "/api/file?file=" + encoded(ref))};
     },
     "doc.md", "# inside"},
    {"Save",
     {"PUT /api/file"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{h.save("path=" + encoded(ref), "overwritten"), h.save("path=" + ref, "overwritten"),
                            h.save("file=" + encoded(ref), "overwritten")};
     },
     "new.md", "version"},
    {"Versions",
     {"POST /api/versions"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{
             h.send("POST", "/api/versions", R"({"items": [{"key": "k", "path": )" + jsonText(ref) + "}]}"),
             h.send("POST", "/api/versions", R"({"items": [{"key": "k", "file": )" + jsonText(ref) + "}]}")};
     },
     "doc.md", "\"k\""},
    {"PictureReference",
     {"GET /api/image"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{h.send("GET", "/api/image?path=doc.md&src=" + encoded(ref)),
                            h.send("GET", "/api/image?path=sub/doc.md&src=" + encoded(ref)),
                            h.send("GET", "/api/image?path=doc.md&src=" + ref)};
     },
     "inside.png", "inside-picture"},
    {"PictureDocument",
     {"GET /api/image"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{h.send("GET", "/api/image?path=" + encoded(ref) + "&src=inside.png"),
                            h.send("GET", "/api/image?path=" + encoded(ref) + "&src=secret.png"),
                            h.send("GET", "/api/image?file=" + encoded(ref) + "&src=secret.png")};
     },
     "doc.md", "inside-picture"},
    {"AllowPictures",
     {"POST /api/allow-images"},
     [](CorpusHarness& h, const std::string& ref) {
         // Whatever the panel shows, the user picks the folder outside.
         h.platform.panelAnswers.push_back({true, {h.outside.string()}});
         auto answer = h.send("POST", "/api/allow-images?path=" + encoded(ref));
         h.platform.panelAnswers.clear();
         return std::vector{answer};
     },
     "doc.md", "That folder does not hold this document"},
    {"AutoSave",
     {"GET /api/autosave", "POST /api/autosave"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{
             h.send("GET", "/api/autosave?path=" + encoded(ref)),
             h.send("POST", "/api/autosave", R"({"scope": "file", "value": true, "path": )" + jsonText(ref) + "}"),
             h.send("POST", "/api/autosave", R"({"scope": "folder", "value": false, "file": )" + jsonText(ref) + "}")};
     },
     "doc.md", "{"},
    {"RecoveryKeepAndOpen",
     {"POST /api/recovery", "POST /api/recovery/open"},
     [](CorpusHarness& h, const std::string& ref) {
         // Kept under a reference, then opened: what open answers is what the
         // page would read next, so it is followed.
         std::vector answers{
             h.send("POST", "/api/recovery",
                    R"({"id": "corpus-entry", "text": "t", "name": "n.md", "base": "", "path": )" + jsonText(ref) + "}")};
         auto opened = h.send("POST", "/api/recovery/open", R"({"id": "corpus-entry"})");
         answers.push_back(opened);
         if (opened.status == 200) {
             auto json = opened.json();
             if (json.contains("file")) {
                 answers.push_back(h.send("GET", "/api/file?file=" + encoded(json["file"].get<std::string>())));
                 answers.push_back(h.save("file=" + encoded(json["file"].get<std::string>()), "overwritten"));
             }
             if (json.contains("path")) answers.push_back(h.send("GET", "/api/file?path=" + encoded(json["path"].get<std::string>())));
         }
         h.send("POST", "/api/recovery/clear", R"({"id": "corpus-entry"})");
         return answers;
     },
     "doc.md", "# inside"},
    {"RecoveryId",
     {"GET /api/recovery/text", "POST /api/recovery/clear", "POST /api/recovery/open"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{
             h.send("POST", "/api/recovery", R"({"id": )" + jsonText(ref) + R"(, "text": "t", "name": "n.md"})"),
             h.send("GET", "/api/recovery/text?id=" + encoded(ref)),
             h.send("POST", "/api/recovery/open", R"({"id": )" + jsonText(ref) + "}"),
             h.send("POST", "/api/recovery/clear", R"({"id": )" + jsonText(ref) + "}")};
     },
     "corpus-entry", "kept"},
    {"SessionSaveAndRestore",
     {"POST /api/session", "GET /api/session", "POST /api/session/restore"},
     [](CorpusHarness& h, const std::string& ref) {
         std::vector answers{
             h.send("POST", "/api/session", R"({"tabs": [{"path": )" + jsonText(ref) + "}]}"),
             h.send("POST", "/api/session", R"({"tabs": [{"file": )" + jsonText(ref) + "}]}"),
             h.send("GET", "/api/session")};
         auto restored = h.send("POST", "/api/session/restore");
         answers.push_back(restored);
         // The restore closes the folder when none was saved; the corpus goes on in it.
         h.bridge->io.sync([&h] { h.bridge->folder().set(fs::canonical(h.docs).string()); });
         return answers;
     },
     "doc.md", "saved"},
    {"PicturesFolderSetting",
     {"POST /api/settings"},
     [](CorpusHarness& h, const std::string& ref) {
         auto answer = h.send("POST", "/api/settings", R"({"assetsFolder": )" + jsonText(ref) + "}");
         if (answer.status == 200) {
             // The folder new pictures go into, below the document's: one
             // plain visible name, never a way out or into a hidden folder.
             std::string kept = answer.json().value("assetsFolder", "");
             EXPECT_TRUE(!kept.empty() && kept.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
                         kept.find("..") == std::string::npos && !kept.starts_with("."))
                 << printable(ref) << " kept as " << printable(kept);
         }
         return std::vector{answer};
     },
     "images", "\"images\""},
    {"PluginFile",
     {"* /api/plugin-folder"},
     [](CorpusHarness& h, const std::string& ref) {
         return std::vector{
             h.send("POST", std::string("/api/plugin-folder/create?plugin=") + pluginId + "&name=" + encoded(ref),
                    "plugin text"),
             h.send("GET", "/api/plugin-folder?plugin=" + encoded(ref)),
             h.send("POST", "/api/plugin-folder/create?plugin=" + encoded(ref) + "&name=x", "plugin text")};
     },
     "made", "made.md"},
};

// Routes whose requests carry no path, picture reference, file name or id of
// the page's choosing (panels take only hints the user's choice overrides).
const std::set<std::string> takeNoPath = {
    "GET /api/tree",           "POST /api/close-folder",  "POST /api/opened",        "GET /api/build",
    "GET /api/about",          "GET /api/changelog",      "POST /api/backups/show",  "POST /api/quit",
    "POST /api/choose-folder", "POST /api/choose-files",  "POST /api/choose-file",   "POST /api/choose-save",
    "GET /api/recent",         "POST /api/recent/clear",  "POST /api/recent/open",   "GET /api/recovery",
    "GET /api/settings",      "GET /api/update/check",   "POST /api/update/download",
    "GET /api/autosave/rules", "POST /api/autosave/rules",
};

// Each answer must hold none of the guarded bytes.
void expectNothingLeaks(const std::vector<Answer>& answers, const std::string& reference) {
    for (const Answer& answer : answers) {
        for (const std::string& marker : {outsideMarker, privateMarker, systemMarker, secretPicture}) {
            EXPECT_EQ(answer.body.find(marker), std::string::npos)
                << "answer " << answer.status << " to " << printable(reference) << " carries a guarded text";
        }
    }
}

class TraversalCorpus : public testing::TestWithParam<RouteCase> {};

TEST_P(TraversalCorpus, NoReferenceReachesOutsideTheFolderOrIntoItsPrivateParts) {
    const RouteCase& route = GetParam();
    CorpusHarness h;
    choosePluginFolder(h);

    // The route does its job on an ordinary reference.
    auto ordinary = route.run(h, route.ordinary);
    ASSERT_FALSE(ordinary.empty());
    EXPECT_EQ(ordinary.front().status, 200) << ordinary.front().body;
    bool found = false;
    for (const Answer& answer : ordinary) found = found || answer.body.find(route.ordinaryAnswer) != std::string::npos;
    EXPECT_TRUE(found) << "the ordinary request did not answer " << route.ordinaryAnswer;

    const auto references = corpus();
    RecordProperty("references", static_cast<int>(references.size()));
    const auto before = h.guarded();
    const bool tmpHeldEscaped = fs::exists(fs::path("/tmp") / escapedName);
    for (const std::string& written : references) {
        const std::string reference = h.expand(written);
        expectNothingLeaks(route.run(h, reference), reference);
        // Compared after each reference, so that a failure names it.
        auto after = h.guarded();
        if (after != before) {
            ADD_FAILURE() << printable(reference) << " changed something outside the folder's own files";
            for (const auto& [path, facts] : after) {
                auto was = before.find(path);
                if (was == before.end() || was->second != facts) ADD_FAILURE() << "  changed or new: " << path;
            }
            for (const auto& [path, facts] : before) {
                if (!after.contains(path)) ADD_FAILURE() << "  gone: " << path;
            }
            return;
        }
    }
    EXPECT_EQ(fs::exists(fs::path("/tmp") / escapedName), tmpHeldEscaped);
    // Neither in the data folder: the stores keep text and paths inside the folder only.
    for (const auto& entry : fs::recursive_directory_iterator(h.dataHome())) {
        EXPECT_NE(entry.path().filename(), escapedName) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, TraversalCorpus, testing::ValuesIn(routeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TraversalCorpusRoutes, EveryRouteIsDrivenByTheCorpusOrTakesNoPath) {
    std::set<std::string> covered;
    for (const RouteCase& route : routeCases) covered.insert(route.rows.begin(), route.rows.end());
    // The rows as the route groups register them.
    const std::regex row(R"re(table\.add(?:Prefix)?\(\s*(?:"([A-Z]+)"|anyMethod)\s*,\s*(?:"([^"]+)"|prefix))re");
    const std::regex prefixConstant(R"re(constexpr const char\* prefix = "([^"]+)")re");
    std::set<std::string> registered;
    for (const auto& file : fs::directory_iterator(fs::path(QUILLMARSH_SOURCE_DIR) / "app/bridge")) {
        if (!file.path().filename().string().ends_with("Routes.cpp")) continue;
        std::ifstream in(file.path());
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::smatch constant;
        std::string prefix = std::regex_search(text, constant, prefixConstant) ? constant[1].str() : std::string();
        for (auto it = std::sregex_iterator(text.begin(), text.end(), row); it != std::sregex_iterator(); ++it) {
            std::string method = (*it)[1].matched ? (*it)[1].str() : "*";
            registered.insert(method + " " + ((*it)[2].matched ? (*it)[2].str() : prefix));
        }
    }
    // The scan reads both kinds of rows, or it would pass on nothing.
    ASSERT_TRUE(registered.contains("PUT /api/file") && registered.contains("* /api/plugin-folder"));
    for (const std::string& name : registered) {
        EXPECT_TRUE(covered.contains(name) || takeNoPath.contains(name))
            << name << " is neither driven by the corpus nor listed as taking no path";
    }
}

}  // namespace
