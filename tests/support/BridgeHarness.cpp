#include "tests/support/BridgeHarness.hpp"

#include <gtest/gtest.h>

void FakePlatform::runPanel(const PanelOptions& options, std::function<void(PanelResult)> done) {
    panelsShown.push_back(options);
    PanelResult result;
    if (!panelAnswers.empty()) {
        result = panelAnswers.front();
        panelAnswers.pop_front();
    }
    main->post([done = std::move(done), result] { done(result); });
}

std::string FakeBookmarks::make(const std::string& path) {
    auto found = makes.find(path);
    return found == makes.end() ? std::string() : found->second;
}

std::optional<std::string> FakeBookmarks::resolve(const std::string& base64) {
    auto found = leadsTo.find(base64);
    if (found == leadsTo.end()) return std::nullopt;
    return found->second;
}

BridgeHarness::BridgeHarness(bool withEditor) {
    platform.main = &main;
    if (withEditor) {
        dir.write("editor/web/index.html",
                  "<title>__PRODUCT__</title><script>const token = \"__QUILLMARSH_TOKEN__\";</script>");
        dir.write("editor/version.json", R"({"name": "Quillmarsh", "version": "1.2.3", "build": "42"})");
    }
    makeBridge();
}

BridgeHarness::~BridgeHarness() { bridge.reset(); }

void BridgeHarness::makeBridge() {
    bridge.reset();
    bridge = std::make_unique<Bridge>(editorPath(), Platform{main, platform, platform, bookmarks, platform}, dataHome());
}

std::shared_ptr<FakeTask> BridgeHarness::task(const std::string& method, const std::string& path,
                                              std::optional<std::string> body, HeaderMap headers) {
    SchemeRequest request;
    request.url = path.find("://") == std::string::npos ? "lornwick://app" + path : path;
    request.method = method;
    request.headers = std::move(headers);
    request.body = std::move(body);
    return std::make_shared<FakeTask>(std::move(request));
}

Answer BridgeHarness::request(const std::string& method, const std::string& path, std::optional<std::string> body,
                              HeaderMap headers) {
    if (headers.empty()) headers = tokenHeaders();
    return run(task(method, path, std::move(body), std::move(headers)));
}

Answer BridgeHarness::run(const std::shared_ptr<FakeTask>& task) {
    bridge->start(task);
    if (!pumpUntil([&] { return task->answer.has_value(); })) {
        ADD_FAILURE() << "no answer within the time limit";
        return {};
    }
    return *task->answer;
}

bool BridgeHarness::pumpUntil(const std::function<bool()>& done) {
    return main.runUntil(done, std::chrono::seconds(20));
}
