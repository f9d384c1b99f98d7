#pragma once
// The console's line protocol.
//
// In:  {"id": 7, "url": "...", "method": "PUT", "headers": {...}, "body": "text"}
//      ("body64" for bytes; "stream": true hands the body over as a stream,
//      "streamError": "text" makes that stream fail after its bytes)
//      {"stop": 7}            stop task 7 as the web view would
//      {"wait": true}         hold further lines until every started request is answered or stopped
//      {"panel": {"chosen": true, "urls": ["/abs"]}}  the next panel's answer (none queued: cancel)
//      {"finder": ["/abs/a.md"]}  documents handed over by the file manager; "wait" and
//                             the end of input also wait until the Bridge has recorded them
//      {"online": false}      what the system's network monitor says from now on (true at start)
// Out: {"token": "..."} first, then
//      {"id": 7, "status": 200, "headers": {...}, "body": "..."} ("body64" when not UTF-8)
//      {"event": "quit" | "folder-changed" | "open-requested"} when the Bridge calls the program
//      {"event": "open-url", "url": "..."}, {"event": "open-folder", "path": "..."}
//      {"event": "panel", ...options}   a panel was shown
//      {"error": "..."} for a line the console could not take, among them a line
//      with a field of another type than above ("id" too when the line had one)
// At the end of input it waits for every answer, then exits 0.
//
// Test seam: with QUILLMARSH_CONSOLE_WRITE_CHUNK=N in its environment, every
// file write of the console passes at most N bytes per system call, which
// widens the moments a crash test can kill it in. With
// QUILLMARSH_CONSOLE_NO_NEW_NAMES=1, making a save's temporary file beside a
// document is refused as a folder without write permission would refuse it,
// so saves take the replacement-folder route (root ignores real permissions).
// Read by the console only; the desktop program reads no such variable.
//
// Test options (the desktop program has none): --update-feed URL fetches the
// update feed from URL instead, --update-ca FILE trusts the authorities in
// FILE instead of the system's, --update-timeout-ms N gives a check N
// milliseconds instead of 5 seconds.
#include <atomic>
#include <deque>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/bridge/Bridge.hpp"

class ConsoleTask;

class Console final : Panels, Workspace, Network {
public:
    Console(std::string editor, std::istream& in, std::ostream& out,
            UpdateFetcher::Options updateOptions = UpdateFetcher::Options());
    ~Console();
    int run();

private:
    void take(const std::string& line);
    void startRequest(const nlohmann::json& line);
    void queuePanelAnswer(const nlohmann::json& panel);
    void emit(const nlohmann::json& value);
    // Writes one line of JSON made elsewhere, in one piece.
    void emitLine(std::string line);
    bool allAnswered() const;
    void finished(long long id);

    void runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) override;
    void openURL(const std::string& url) override;
    void openFolder(const std::string& path) override;
    bool online() override { return online_; }

    std::istream& in_;
    std::ostream& out_;
    RunLoopMainQueue main_;
    NoBookmarks bookmarks_;
    std::unique_ptr<Bridge> bridge_;
    std::map<long long, std::shared_ptr<ConsoleTask>> open_;
    std::deque<PanelResult> panelAnswers_;
    std::deque<std::string> held_;
    bool waiting_ = false;
    bool inputDone_ = false;
    // Hand-overs whose documents the Bridge has not yet recorded (main thread).
    int handOversPending_ = 0;
    // Set from the main thread, read by update fetches.
    std::atomic<bool> online_{true};
    friend class ConsoleTask;
};
