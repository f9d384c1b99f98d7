// What the Bridge adds to a small API request: GET /api/build through the whole
// frame (token check, body reader, io queue, answer back on the main queue)
// against the floor of the same two queue hops doing nothing.
//
// Prints the median time per request of each and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/bridge/Bridge.hpp"

namespace {

using Nanos = std::chrono::nanoseconds;

class BenchTask final : public SchemeTask {
public:
    explicit BenchTask(SchemeRequest request) : request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap&, const std::string&) override { this->status = status; }
    int status = 0;

private:
    SchemeRequest request_;
};

class NoPlatform final : public Panels, public Workspace {
public:
    void runPanel(const PanelOptions&, std::function<void(PanelResult)> done) override { done({}); }
    void openURL(const std::string&) override {}
    void openFolder(const std::string&) override {}
};

template <typename Body>
double medianNanosPerCall(int rounds, int calls, Body body) {
    std::vector<double> perCall;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < calls; ++i) body();
        perCall.push_back(static_cast<double>(std::chrono::duration_cast<Nanos>(Clock::now() - start).count()) /
                          calls);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

}  // namespace

int main() {
    auto home = std::filesystem::temp_directory_path() / "quillmarsh-bench-roundtrip";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / "editor/web");
    std::ofstream(home / "editor/version.json") << R"({"name": "Quillmarsh", "version": "1"})";

    RunLoopMainQueue main;
    NoPlatform platform;
    NoBookmarks bookmarks;
    Bridge bridge((home / "editor").string(), Platform{main, platform, platform, bookmarks}, (home / "data").string());

    SchemeRequest request;
    request.url = "lornwick://app/api/build";
    request.method = "GET";
    request.headers = {{"X-Quillmarsh-Token", bridge.token}};

    auto roundTrip = [&] {
        auto task = std::make_shared<BenchTask>(request);
        bridge.start(task);
        while (task->status == 0) main.runOnce(std::chrono::seconds(1));
    };
    auto queueHops = [&] {
        bool done = false;
        bridge.io.async([&] { main.post([&] { done = true; }); });
        while (!done) main.runOnce(std::chrono::seconds(1));
    };

    const int rounds = 9;
    const int calls = 2000;
    roundTrip();  // warm up: threads started, files cached
    queueHops();
    double floor = medianNanosPerCall(rounds, calls, queueHops);
    double bridgeCost = medianNanosPerCall(rounds, calls, roundTrip);

    std::printf("queue hops alone (floor): %.1f us per request\n", floor / 1000);
    std::printf("GET /api/build round trip: %.1f us per request\n", bridgeCost / 1000);
    std::printf("ratio: %.2f x the floor\n", bridgeCost / floor);
    std::filesystem::remove_all(home);
    return 0;
}
