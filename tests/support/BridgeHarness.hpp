#pragma once
// A real Bridge on a hand-pumped main queue with scripted platform pieces, an
// editor folder and a support folder of its own: what the tests drive the
// Bridge through, one request at a time or several at once.
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/bridge/Bridge.hpp"
#include "tests/support/FakeTask.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/TempDir.hpp"

class FakePlatform final : public Panels, public Workspace, public Network {
public:
    void runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) override;
    void openURL(const std::string& url) override {
        if (!main->isCurrent()) openedOffMain = true;
        openedURLs.push_back(url);
    }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }

    MainQueue* main = nullptr;
    std::deque<PanelResult> panelAnswers;
    std::vector<PanelOptions> panelsShown;
    std::vector<std::string> openedURLs;
    std::vector<std::string> openedFolders;
    bool openedOffMain = false;

    bool online() override { return networkOnline; }
    // What the system's network monitor says; asked from the update queue.
    std::atomic<bool> networkOnline{true};
};

// The desktop's bookmarks (none are made, none resolve), except those a test
// lays out: an entry of Open Recent whose bookmark leads somewhere else, a
// document the desktop makes a bookmark for.
class FakeBookmarks final : public Bookmarks {
public:
    std::string make(const std::string& path) override;
    std::optional<std::string> resolve(const std::string& base64) override;
    bool enterScope(const std::string&) override { return false; }
    void leaveScope(const std::string&) override {}

    // Bookmark text to the path it resolves to; set before the Bridge asks.
    std::map<std::string, std::string> leadsTo;
    // Path to the bookmark text made for it (none for any other path); set
    // before the Bridge asks, which may be from any thread.
    std::map<std::string, std::string> makes;
};

class BridgeHarness {
public:
    // Lays out a small editor folder (web/index.html with both placeholders,
    // version.json) unless told not to, then creates the Bridge.
    explicit BridgeHarness(bool withEditor = true);
    ~BridgeHarness();

    // Makes (or remakes) the Bridge, for tests that change the folders first.
    void makeBridge();

    std::string editorPath() const { return dir / "editor"; }
    std::string dataHome() const { return dir / "data"; }

    std::shared_ptr<FakeTask> task(const std::string& method, const std::string& path,
                                   std::optional<std::string> body = std::string(), HeaderMap headers = {});
    // Starts a request and pumps the main queue until it is answered.
    Answer request(const std::string& method, const std::string& path, std::optional<std::string> body = std::string(),
                   HeaderMap headers = {});
    // Starts the task and pumps until it is answered; fails the test on a time-out.
    Answer run(const std::shared_ptr<FakeTask>& task);
    // Pumps the main queue until `done` holds (bounded).
    bool pumpUntil(const std::function<bool()>& done);

    HeaderMap tokenHeaders() const { return {{"X-Quillmarsh-Token", bridge->token}}; }

    TempDir dir;
    // Everything the Bridge logs during a test lands here, never in the user's log.
    LogCapture log;
    RunLoopMainQueue main;
    FakePlatform platform;
    FakeBookmarks bookmarks;
    std::unique_ptr<Bridge> bridge;
};
