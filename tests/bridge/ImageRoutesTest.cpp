// Pictures for the preview through the API: served with a policy that keeps
// them from running anything, refused with the reason, and the folders the
// user allows for documents opened by themselves, remembered across launches.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/bridge/Bridge.hpp"
#include "core/FileRead.hpp"
#include "core/Images.hpp"
#include "tests/support/BridgeHarness.hpp"
#include "tests/support/ConsoleProcess.hpp"
#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* pictureCSP = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";
const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg"><script>alert(1)</script></svg>)";

std::string handleOf(BridgeHarness& h, const std::string& path) {
    std::string handle;
    h.bridge->io.sync([&] { handle = h.bridge->handles().handle(path); });
    return handle;
}

void openFolder(BridgeHarness& h, const std::string& folder) {
    h.bridge->io.sync([&] { h.bridge->folder().open(folder); });
}

Answer allow(BridgeHarness& h, const std::string& handle, std::optional<std::string> chosen) {
    h.platform.panelAnswers.push_back(chosen ? PanelResult{true, {*chosen}} : PanelResult{false, {}});
    return h.request("POST", "/api/allow-images?file=" + handle);
}

nlohmann::json remembered(BridgeHarness& h) {
    auto text = FileRead::all(h.dataHome() + "/Quillmarsh/image-folders.json");
    return text ? nlohmann::json::parse(*text) : nlohmann::json();
}

TEST(ImageRoutes, PicturesOfTheOpenFolderAreServedWithTheirTypeAndThePolicy) {
    BridgeHarness h;
    h.dir.write("notes/doc.md", "![](shots/a.png)");
    h.dir.write("notes/shots/a.png", "PNG bytes");
    h.dir.write("notes/shots/b.svg", svg);
    h.dir.write("notes/shots/c.tiff", "tiff");
    h.dir.write("secret.png", "outside");
    openFolder(h, h.dir / "notes");

    Answer png = h.request("GET", "/api/image?path=doc.md&src=shots/a.png%3Fv%3D2");
    EXPECT_EQ(png.status, 200);
    EXPECT_EQ(png.body, "PNG bytes");
    EXPECT_EQ(png.headers["Content-Type"], "image/png");
    EXPECT_EQ(png.headers["Content-Security-Policy"], pictureCSP);
    Answer drawing = h.request("GET", "/api/image?path=doc.md&src=shots/b.svg");
    EXPECT_EQ(drawing.status, 200);
    EXPECT_EQ(drawing.body, svg);
    EXPECT_EQ(drawing.headers["Content-Type"], "image/svg+xml");
    EXPECT_EQ(drawing.headers["Content-Security-Policy"], pictureCSP);

    struct Refused {
        std::string query;
        int status;
        std::string error;
    };
    for (const Refused& c : std::vector<Refused>{
             {"path=doc.md&src=../secret.png", 403, "the picture is outside the folder this app may read"},
             {"path=doc.md&src=https%3A%2F%2Fexample.com%2Fa.png", 400, "not a local picture"},
             {"path=doc.md&src=shots/c.tiff", 415, "not a picture type this app shows"},
             {"path=doc.md&src=shots/gone.png", 404, "picture not found"},
             {"path=doc.md", 400, "not a local picture"},
             {"path=../secret.md&src=a.png", 403, "path may not contain '..', '.', empty parts, hidden files or private folders"},
             {"file=nope&src=a.png", 403, "unknown file handle (use Open File again)"},
         }) {
        Answer answer = h.request("GET", "/api/image?" + c.query);
        EXPECT_EQ(answer.status, c.status) << c.query;
        EXPECT_EQ(answer.error(), c.error) << c.query;
        EXPECT_FALSE(answer.headers.contains("Content-Security-Policy")) << c.query;
    }

    h.bridge->io.sync([&] { h.bridge->folder().close(); });
    Answer closed = h.request("GET", "/api/image?path=doc.md&src=shots/a.png");
    EXPECT_EQ(closed.status, 403);
    EXPECT_EQ(closed.error(), "no folder is open");
}

// The document notes/doc.md of top/, opened by itself, with pictures beside
// it and in top/pics; top/other is a sibling folder.
struct LoneDocument {
    LoneDocument() {
        h.dir.write("top/notes/doc.md", "# doc");
        h.dir.write("top/notes/here.png", "here");
        h.dir.write("top/pics/y.png", "above");
        fs::create_directories(h.dir / "top/other");
        handle = handleOf(h, h.dir / "top/notes/doc.md");
    }
    Answer picture(const std::string& src) { return h.request("GET", "/api/image?file=" + handle + "&src=" + src); }

    BridgeHarness h;
    std::string handle;
};

TEST(ImageRoutes, ADocumentOpenedByItselfShowsItsOwnFolderAndAsksForMore) {
    LoneDocument d;
    EXPECT_EQ(d.picture("here.png").body, "here");
    // What cannot be reached without an allowed folder is answered as the
    // folder to allow, named, never as a plain refusal.
    Answer missing = d.picture("missing.png");
    EXPECT_EQ(missing.status, 403);
    EXPECT_EQ(missing.json(), (nlohmann::json{{"error", Images::needsFolder}, {"needsFolder", true}, {"folder", "notes"}}));
    EXPECT_EQ(d.picture("../pics/y.png").error(), "the picture is outside the folder this app may read");

    EXPECT_EQ(allow(d.h, d.handle, std::nullopt).json(), (nlohmann::json{{"cancelled", true}}));
    const PanelOptions& panel = d.h.platform.panelsShown.back();
    EXPECT_EQ(panel.message, "Allow " + appName() + " to show the pictures in this folder (the folder of \u201Cdoc.md\u201D)");
    EXPECT_EQ(panel.acceptLabel, "Allow");
    EXPECT_TRUE(panel.folders);
    EXPECT_FALSE(panel.files);
    EXPECT_FALSE(panel.multiple);
    EXPECT_EQ(panel.startFolder, d.h.dir / "top/notes");

    Answer sibling = allow(d.h, d.handle, d.h.dir / "top/other");
    EXPECT_EQ(sibling.json(), (nlohmann::json{{"cancelled", false},
                                              {"allowed", false},
                                              {"error", "That folder does not hold this document. Choose its own folder: notes."}}));
    EXPECT_TRUE(remembered(d.h).is_null());

    EXPECT_EQ(allow(d.h, d.handle, d.h.dir / "top").json(),
              (nlohmann::json{{"cancelled", false}, {"allowed", true}, {"folder", "top"}}));
    EXPECT_EQ(remembered(d.h), (nlohmann::json::array({{{"path", d.h.dir / "top"}, {"bookmark", ""}}})));
    EXPECT_EQ(d.picture("../pics/y.png").body, "above");
    // An allowed folder reads as the open folder does: missing is missing.
    EXPECT_EQ(d.picture("missing.png").status, 404);

    // The next launch finds the folder by its path, even when another folder
    // is allowed before the first picture is asked for.
    d.h.makeBridge();
    d.h.dir.write("elsewhere/doc2.md", "# two");
    allow(d.h, handleOf(d.h, d.h.dir / "elsewhere/doc2.md"), d.h.dir / "elsewhere");
    d.handle = handleOf(d.h, d.h.dir / "top/notes/doc.md");
    Answer again = d.picture("../pics/y.png");
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.headers["Content-Security-Policy"], pictureCSP);
}

TEST(ImageRoutes, TheNewestFiftyFoldersAreRemembered) {
    LoneDocument d;
    nlohmann::json earlier = nlohmann::json::array();
    for (int i = 0; i < 50; ++i) earlier.push_back({{"path", "/gone/" + std::to_string(i)}, {"bookmark", ""}});
    d.h.dir.write("data/Quillmarsh/image-folders.json", earlier.dump());

    allow(d.h, d.handle, d.h.dir / "top");
    nlohmann::json list = remembered(d.h);
    ASSERT_EQ(list.size(), 50u);
    EXPECT_EQ(list.front()["path"], "/gone/1");
    EXPECT_EQ(list.back()["path"], d.h.dir / "top");

    // Allowing it again moves it to the end instead of adding it twice.
    allow(d.h, d.handle, d.h.dir / "top/notes");
    allow(d.h, d.handle, d.h.dir / "top");
    list = remembered(d.h);
    ASSERT_EQ(list.size(), 50u);
    EXPECT_EQ(list.front()["path"], "/gone/2");
    EXPECT_EQ(list[48]["path"], d.h.dir / "top/notes");
    EXPECT_EQ(list[49]["path"], d.h.dir / "top");

    // A damaged list is started afresh rather than kept half.
    d.h.dir.write("data/Quillmarsh/image-folders.json", R"([{"path": 3}])");
    allow(d.h, d.handle, d.h.dir / "top");
    EXPECT_EQ(remembered(d.h), (nlohmann::json::array({{{"path", d.h.dir / "top"}, {"bookmark", ""}}})));
}

TEST(ImageRoutes, ABookmarkThatResolvesLeadsToTheFolderWhereverItIsNow) {
    LoneDocument d;
    d.h.dir.write("data/Quillmarsh/image-folders.json",
                  nlohmann::json::array({{{"path", d.h.dir / "before"}, {"bookmark", "QUJD"}}}).dump());
    d.h.bookmarks.leadsTo["QUJD"] = d.h.dir / "top";
    d.h.makeBridge();
    d.handle = handleOf(d.h, d.h.dir / "top/notes/doc.md");
    EXPECT_EQ(d.picture("../pics/y.png").body, "above");
}

// --- the same through the console, across two launches --------------------------

std::string requestLine(int id, const std::string& method, const std::string& path, const std::string& token) {
    return nlohmann::json{{"id", id},
                          {"url", "lornwick://app" + path},
                          {"method", method},
                          {"headers", {{"X-Quillmarsh-Token", token}}}}
        .dump();
}

// The next answer line of the session, events skipped.
nlohmann::json answerOf(ConsoleSession& console) {
    while (auto line = console.readLine()) {
        auto value = nlohmann::json::parse(*line);
        if (value.contains("id")) return value;
    }
    ADD_FAILURE() << "the console ended";
    return {};
}

std::string chooseDocument(ConsoleSession& console, const std::string& path) {
    console.send(nlohmann::json{{"panel", {{"chosen", true}, {"urls", {path}}}}}.dump());
    console.send(requestLine(1, "POST", "/api/choose-file", console.token()));
    return nlohmann::json::parse(answerOf(console)["body"].get<std::string>())["file"];
}

TEST(ImagesInTheConsole, AnAllowedFolderOutlivesARestart) {
    TempDir home;
    home.write("top/notes/doc.md", "# doc");
    home.write("top/pics/y.png", "above");
    {
        ConsoleSession console(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string());
        std::string file = chooseDocument(console, home / "top/notes/doc.md");
        console.send(nlohmann::json{{"panel", {{"chosen", true}, {"urls", {home / "top"}}}}}.dump());
        console.send(requestLine(2, "POST", "/api/allow-images?file=" + file, console.token()));
        EXPECT_EQ(nlohmann::json::parse(answerOf(console)["body"].get<std::string>())["allowed"], true);
    }
    ConsoleSession console(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home.path().string());
    std::string file = chooseDocument(console, home / "top/notes/doc.md");
    console.send(requestLine(3, "GET", "/api/image?file=" + file + "&src=..%2Fpics%2Fy.png", console.token()));
    nlohmann::json answer = answerOf(console);
    EXPECT_EQ(answer["status"], 200);
    EXPECT_EQ(answer["body"], "above");
    EXPECT_EQ(answer["headers"]["Content-Security-Policy"], pictureCSP);
}

}  // namespace
