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
#include "bench/BenchSupport.hpp"

namespace {

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
    auto [floor, bridgeCost] = alternatingMedians(rounds, calls, queueHops, roundTrip);

    std::printf("queue hops alone (floor): %.1f us per request\n", floor * 1e6);
    std::printf("GET /api/build round trip: %.1f us per request\n", bridgeCost * 1e6);
    std::printf("ratio: %.2f x the floor\n", bridgeCost / floor);
    std::filesystem::remove_all(home);
    return 0;
}
