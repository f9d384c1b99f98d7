#pragma once
// A real Bridge for fuzz targets, without GoogleTest: scheme tasks that record
// their answers, a main queue pumped by hand with a bounded wait, and a
// platform whose panels always choose inside a fixture folder, so a fuzzed
// request can open a folder and reach the document routes.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/bridge/Bridge.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"
#include "tests/support/FakeTask.hpp"

// Panels choose the fixture folder, or its one document, or a new name in
// it; the desktop opens nothing, knows no bookmarks and has no network.
class FixturePlatform final : public Panels, public Workspace, public Network, public Bookmarks {
public:
    FixturePlatform(MainQueue& main, std::string folder) : main_(main), folder_(std::move(folder)) {}
    void runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) override;
    void openURL(const std::string&) override {}
    void openFolder(const std::string&) override {}
    bool online() override { return false; }
    std::string make(const std::string&) override { return {}; }
    std::optional<std::string> resolve(const std::string&) override { return std::nullopt; }
    bool enterScope(const std::string&) override { return false; }
    void leaveScope(const std::string&) override {}

private:
    MainQueue& main_;
    std::string folder_;
};

class FuzzBridge {
public:
    // Lays out the editor folder, a document folder with a note and a picture,
    // and points the shared log into the scratch folder.
    FuzzBridge();
    ~FuzzBridge();

    // A fresh Bridge on an empty support folder, so every input starts alike
    // and a finding reproduces from its input alone.
    void reset();

    // Starts the task and pumps until it is answered or `limit` passes.
    // Returns whether it was answered.
    bool run(const std::shared_ptr<FakeTask>& task,
             std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Pumps the main queue for what is already queued (abandoned tasks' work).
    void drain();

    const std::string& token() const { return bridge->token; }
    std::string documentFolder() const { return scratch / "docs"; }

    ScratchFolder scratch;
    RunLoopMainQueue main;
    FixturePlatform platform;
    std::unique_ptr<Bridge> bridge;

private:
    std::string previousLog_;
};
