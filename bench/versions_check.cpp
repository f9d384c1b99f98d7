// POST /api/versions for documents that have not changed, against the floor of
// what the check cannot avoid: one lstat of each document.
// Goal: at most 2 times the floor per document, and a fixed cost per request
// of at most 2 GET /api/build round trips over the floor's (the check rides
// one more queue hop than that round trip, to the disk queue).
//
// Timed for 2 and for 200 documents; the line through the two medians splits
// each time into fixed cost and cost per document (see BenchSupport.hpp).
// The documents lie in a folder a few levels down, as real ones do; half are
// named by path in the open folder, half by file handle.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/support/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int smallCount = 2;
constexpr int largeCount = 200;

}  // namespace

int main() {
    std::string home = bench::freshFolder("quillmarsh-bench-versions");
    fs::path folder = fs::path(home) / "Documents/Notes";
    fs::create_directories(folder / "projects");
    bench::Goals goals;
    {
        bench::BenchBridge bench(home);
        bench.openFolder(folder.string());

        std::vector<std::string> paths;
        std::vector<std::string> picked;
        for (int i = 0; i < largeCount; ++i) {
            std::string path = (folder / ("projects/note " + std::to_string(i) + ".md")).string();
            std::ofstream(path) << "# Note " << i << "\n" << std::string(2000, 'x');
            paths.push_back(path);
            if (i % 2 == 1) picked.push_back(path);
        }
        std::vector<std::string> handles = bench.chooseFiles(picked);
        auto itemsFor = [&](int count) {
            nlohmann::json items = nlohmann::json::array();
            for (int i = 0; i < count; ++i) {
                if (i % 2 == 0) {
                    items.push_back({{"key", std::to_string(i)}, {"path", "projects/note " + std::to_string(i) + ".md"}});
                } else {
                    items.push_back({{"key", std::to_string(i)}, {"file", handles.at(static_cast<size_t>(i / 2))}});
                }
            }
            return nlohmann::json{{"items", items}}.dump();
        };

        // The timed request: only the status is looked at, so the clock holds
        // the Bridge's work and not the parsing of its answer.
        std::shared_ptr<bench::BenchTask> last;
        auto check = [&](const SchemeRequest& request) {
            last = std::make_shared<bench::BenchTask>(request);
            bench.run(last);
            if (last->status != 200) {
                std::printf("FAIL versions_check answered: %d %s\n", last->status, last->body.c_str());
                std::exit(1);
            }
        };
        // Whether the last answer gives every one of `count` documents a
        // version (64 hexadecimal digits), none "missing" or "unreadable".
        auto allFound = [&](int count) {
            auto answer = nlohmann::json::parse(last->body, nullptr, false);
            if (!answer.is_object() || !answer.contains("versions")) return false;
            const auto& versions = answer["versions"];
            if (!versions.is_object() || static_cast<int>(versions.size()) != count) return false;
            for (const auto& [key, state] : versions.items()) {
                if (!state.is_string() || state.get<std::string>().size() != 64) return false;
            }
            return true;
        };
        SchemeRequest small = bench.task("POST", "/api/versions", itemsFor(smallCount))->request();
        SchemeRequest large = bench.task("POST", "/api/versions", itemsFor(largeCount))->request();
        // The first check reads and hashes every document; later ones only look.
        check(small);
        bool found = allFound(smallCount);
        check(large);
        found = found && allFound(largeCount);

        volatile long sink = 0;
        auto lstats = [&](int count) {
            struct stat status;
            for (int i = 0; i < count; ++i) {
                if (::lstat(paths[static_cast<size_t>(i)].c_str(), &status) == 0) sink = sink + status.st_size;
            }
        };
        auto medians = bench::alternatingMedians(
            31, {{[&] { lstats(smallCount); }, 200},
                 {[&] { check(small); }, 200},
                 {[&] { lstats(largeCount); }, 20},
                 {[&] { check(large); }, 20},
                 bench.roundTripWay(200)});
        bench::Line floor = bench::throughTwo(smallCount, medians[0], largeCount, medians[2]);
        bench::Line ours = bench::throughTwo(smallCount, medians[1], largeCount, medians[3]);
        double roundTrip = medians[4];
        found = found && allFound(largeCount);  // the large check ran last
        goals.holds("versions_check every document found", found, found ? "all found" : "some missing");

        std::printf("%d lstat calls (floor): %.1f us; %d: %.1f us\n", smallCount, medians[0] * 1e6, largeCount,
                    medians[2] * 1e6);
        std::printf("POST /api/versions, %d unchanged: %.1f us; %d: %.1f us\n", smallCount, medians[1] * 1e6,
                    largeCount, medians[3] * 1e6);
        std::printf("GET /api/build round trip: %.1f us\n", roundTrip * 1e6);
        bench::printLine("lstat (floor)", floor, "document");
        bench::printLine("POST /api/versions", ours, "document");
        std::printf("ratio of the totals at %d documents: %.2f x the floor (not judged: fixed cost weighs in)\n",
                    largeCount, medians[3] / medians[2]);
        goals.atMost("versions_check per document", bench::ratio(ours.perItem, floor.perItem), 2, "x the floor");
        goals.atMost("versions_check fixed cost over the floor's", (ours.fixed - floor.fixed) / roundTrip, 2,
                     "round trips");
    }
    fs::remove_all(home);
    return goals.exitCode();
}
