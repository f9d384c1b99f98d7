#include "tests/fuzz/support/FuzzBridge.hpp"

#include <filesystem>

#include "core/LogFile.hpp"

void FixturePlatform::runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) {
    PanelResult result;
    result.chosen = true;
    if (options.kind == PanelOptions::Kind::save) result.paths = {folder_ + "/saved.md"};
    else if (options.folders) result.paths = {folder_};
    else result.paths = {folder_ + "/note.md"};
    main_.post([done = std::move(done), result] { done(result); });
}

FuzzBridge::FuzzBridge() : platform(main, scratch / "docs") {
    scratch.write("editor/web/index.html",
                  "<title>__PRODUCT__</title><script>const token = \"__QUILLMARSH_TOKEN__\";</script>");
    scratch.write("editor/version.json", R"({"name": "Quillmarsh", "version": "1.2.3", "build": "42"})");
    scratch.makeFolder("log");
    previousLog_ = LogFile::useSharedAt(scratch / "log/Quillmarsh.log");
    reset();
}

FuzzBridge::~FuzzBridge() {
    bridge.reset();
    LogFile::useSharedAt(previousLog_);
}

void FuzzBridge::reset() {
    // What the old Bridge has queued already (a panel's answer) runs while it
    // exists, so the work of one input ends inside that input.
    if (bridge) drain();
    bridge.reset();
    drain();
    std::error_code ignored;
    std::filesystem::remove_all(scratch / "data", ignored);
    std::filesystem::remove_all(scratch / "docs", ignored);
    scratch.write("docs/note.md", "# Note\n\n![](pictures/dot.png)\n");
    scratch.write("docs/pictures/dot.png", "\x89PNG\r\n\x1a\n");
    bridge = std::make_unique<Bridge>(scratch / "editor",
                                      Platform{main, platform, platform, platform, platform}, scratch / "data");
    // An update check must fail fast and never leave the machine.
    bridge->updateOptions.feed = "http://127.0.0.1:9/version.json";
    bridge->updateOptions.timeout = std::chrono::milliseconds(200);
    bridge->onQuit = [] {};
    bridge->onFolderChanged = [] {};
    bridge->onOpenRequested = [] {};
}

bool FuzzBridge::run(const std::shared_ptr<FakeTask>& task, std::chrono::milliseconds limit) {
    bridge->start(task);
    return main.runUntil([&] { return task->answer.has_value(); }, limit);
}

void FuzzBridge::drain() {
    while (main.runOnce(std::chrono::milliseconds(0)) > 0) {
    }
}
