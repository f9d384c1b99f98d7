// POST /api/session/restore of a session whose documents all lie in the open
// folder, against the floor of what finding them again cannot avoid: one stat
// and one realpath of each document.
// Goal: at most 2 times the floor per document.
//
// Timed for 2 and for 100 documents (the most a session keeps); the line
// through the two medians splits each time into fixed cost and cost per
// document (see BenchSupport.hpp). Each size has a Bridge of its own, so the
// two sessions need not be written in turn.
//
// The sessions timed for the goals were saved before their folder was
// opened, so their restore reopens none: reopening the folder writes Open
// Recent and flushes it to disk, milliseconds whose spread would swamp the
// cost per document. A restore that does reopen it is timed beside them at
// 100 documents and printed, not judged (the floor has nothing of the kind).
// The fixed cost is printed in GET /api/build round trips over the floor's,
// not judged either: every restore reads the session file and appends its
// line to the log, disk work a round trip has no part of.
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/support/BenchSupport.hpp"
#include "core/LogFile.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int smallCount = 2;
constexpr int largeCount = 100;

}  // namespace

int main() {
    std::string home = bench::freshFolder("quillmarsh-bench-session");
    fs::path folder = fs::path(home) / "Documents/Notes";
    fs::create_directories(folder / "projects");
    std::vector<std::string> paths;
    for (int i = 0; i < largeCount; ++i) {
        std::string path = (folder / ("projects/note " + std::to_string(i) + ".md")).string();
        std::ofstream(path) << "# Note " << i << "\n";
        paths.push_back(path);
    }
    // Each restore logs a line: into a log of the benchmark's own, not the user's.
    std::string userLog = LogFile::useSharedAt(home + "/Quillmarsh.log");
    bench::Goals goals;
    {
        // Sessions saved as the page saves them. Without the folder: the
        // documents chosen one by one, then the folder opened. With it: the
        // folder open, its documents by path.
        auto sessionOf = [&](const std::string& name, int count, bool withFolder) {
            auto bench = std::make_unique<bench::BenchBridge>(home + "/" + name);
            if (withFolder) bench->openFolder(folder.string());
            std::vector<std::string> handles;
            if (!withFolder) handles = bench->chooseFiles({paths.begin(), paths.begin() + count});
            nlohmann::json tabs = nlohmann::json::array();
            nlohmann::json views = nlohmann::json::array();
            for (int i = 0; i < count; ++i) {
                if (withFolder) tabs.push_back({{"path", "projects/note " + std::to_string(i) + ".md"}});
                else tabs.push_back({{"file", handles.at(static_cast<size_t>(i))}});
                views.push_back({{"anchor", i}, {"head", i}, {"top", 0}});
            }
            bench->expect(200, "POST", "/api/session", nlohmann::json{{"tabs", tabs}, {"views", views}}.dump());
            if (!withFolder) bench->openFolder(folder.string());
            return bench;
        };
        auto small = sessionOf("small", smallCount, false);
        auto large = sessionOf("large", largeCount, false);
        auto reopening = sessionOf("reopening", largeCount, true);

        // The timed request: only the status is looked at, so the clock holds
        // the Bridge's work and not the parsing of its answer.
        std::shared_ptr<bench::BenchTask> last;
        auto restore = [&](bench::BenchBridge& bench) {
            last = bench.task("POST", "/api/session/restore");
            bench.run(last);
            if (last->status != 200) {
                std::printf("FAIL session_restore answered: %d %s\n", last->status, last->body.c_str());
                std::exit(1);
            }
        };
        // Whether the last answer reopened the folder and every one of
        // `count` documents by its path in it, none missing.
        auto allFound = [&](int count) {
            auto answer = nlohmann::json::parse(last->body, nullptr, false);
            if (!answer.is_object() || answer.value("folder", nlohmann::json()) != fs::canonical(folder).string()) {
                return false;
            }
            const auto& tabs = answer["tabs"];
            if (!tabs.is_array() || static_cast<int>(tabs.size()) != count) return false;
            if (answer["missing"] != nlohmann::json::array()) return false;
            for (int i = 0; i < count; ++i) {
                if (tabs[static_cast<size_t>(i)].value("path", "") != "projects/note " + std::to_string(i) + ".md") {
                    return false;
                }
            }
            return true;
        };
        restore(*small);
        bool found = allFound(smallCount);
        restore(*large);
        found = found && allFound(largeCount);
        restore(*reopening);
        found = found && allFound(largeCount);

        volatile long sink = 0;
        auto floorOf = [&](int count) {
            struct stat status;
            char real[PATH_MAX];
            for (int i = 0; i < count; ++i) {
                const char* path = paths[static_cast<size_t>(i)].c_str();
                if (::stat(path, &status) == 0) sink = sink + status.st_size;
                if (::realpath(path, real)) sink = sink + real[0];
            }
        };
        auto medians = bench::alternatingMedians(
            31, {{[&] { floorOf(smallCount); }, 100},
                 {[&] { restore(*small); }, 20},
                 {[&] { floorOf(largeCount); }, 20},
                 {[&] { restore(*large); }, 20},
                 large->roundTripWay(100),
                 {[&] { restore(*reopening); }, 5}});
        bench::Line floor = bench::throughTwo(smallCount, medians[0], largeCount, medians[2]);
        bench::Line ours = bench::throughTwo(smallCount, medians[1], largeCount, medians[3]);
        double roundTrip = medians[4];
        found = found && allFound(largeCount);  // a restore of 100 ran last
        goals.holds("session_restore every document found", found, found ? "all found" : "some missing");

        std::printf("%d stat + realpath (floor): %.1f us; %d: %.1f us\n", smallCount, medians[0] * 1e6, largeCount,
                    medians[2] * 1e6);
        std::printf("POST /api/session/restore, %d documents: %.1f us; %d: %.1f us\n", smallCount, medians[1] * 1e6,
                    largeCount, medians[3] * 1e6);
        std::printf("GET /api/build round trip: %.1f us\n", roundTrip * 1e6);
        bench::printLine("stat + realpath (floor)", floor, "document");
        bench::printLine("POST /api/session/restore", ours, "document");
        std::printf("fixed cost over the floor's: %.2f round trips (not judged)\n", (ours.fixed - floor.fixed) / roundTrip);
        std::printf("POST /api/session/restore reopening the folder, %d documents: %.1f us (not judged)\n",
                    largeCount, medians[5] * 1e6);
        std::printf("ratio of the totals at %d documents: %.2f x the floor (not judged: fixed cost weighs in)\n",
                    largeCount, medians[3] / medians[2]);
        goals.atMost("session_restore per document", bench::ratio(ours.perItem, floor.perItem), 2, "x the floor");
    }
    LogFile::useSharedAt(userLog);
    fs::remove_all(home);
    return goals.exitCode();
}
