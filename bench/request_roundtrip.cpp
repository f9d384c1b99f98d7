// What the Bridge adds to a small API request: GET /api/build through the whole
// frame (token check, body reader, io queue, answer back on the main queue)
// against the floor of the same two queue hops doing nothing.
//
// Goal: at most 2 times the floor. The frame's own work (a header look-up,
// routing, a small JSON answer) is a few microseconds; the hops it rides are
// what a request cannot avoid, so the frame should not cost as much again.
// No size scales here: the whole request is fixed cost, and the floor is fixed
// cost of the same kind (thread wake-ups), so their ratio holds across machines.
#include <cstdio>
#include <filesystem>

#include "bench/support/BenchSupport.hpp"

int main() {
    std::string home = bench::freshFolder("quillmarsh-bench-roundtrip");
    bench::Goals goals;
    {
        bench::BenchBridge bench(home);
        auto request = bench.task("GET", "/api/build");
        auto roundTrip = [&] {
            auto task = std::make_shared<bench::BenchTask>(request->request());
            bench.run(task);
        };
        auto queueHops = [&] {
            bool done = false;
            bench.bridge->io.async([&] { bench.main.post([&] { done = true; }); });
            bench.main.runUntil([&] { return done; }, std::chrono::minutes(1));
        };
        roundTrip();  // warm up: threads started, files cached
        queueHops();
        auto medians = bench::alternatingMedians(9, {{queueHops, 2000}, {roundTrip, 2000}});
        double floor = medians[0];
        double ours = medians[1];

        std::printf("queue hops alone (floor): %.1f us per request\n", floor * 1e6);
        std::printf("GET /api/build round trip: %.1f us per request\n", ours * 1e6);
        goals.atMost("request_roundtrip GET /api/build", bench::ratio(ours, floor), 2, "x the floor");
    }
    std::filesystem::remove_all(home);
    return goals.exitCode();
}
