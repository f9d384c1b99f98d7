// GET /api/tree on a folder that also holds a node_modules of 150k files, a
// .git of 20k objects and a .venv of 30k files, through the console as the
// page would ask it, against `find` with the same pruning and against the
// floor of a raw directory walk with that pruning, all in the same run.
// Goals, per listed document: through the console faster than find, and
// within 2 times the floor. Fixed cost through the console: at most 2 console
// round trips (GET /api/build) over the floor's, the listing riding one more
// queue hop than that round trip.
//
// Timed on a small and a large tree (TreeShape) with the same kinds of pruned
// folders; the line through the two medians splits each time into fixed cost
// and cost per document (see BenchSupport.hpp).
//
// Usage: tree_listing [rounds]. Exits 1 when a goal is missed or an answer is
// wrong (so a fast wrong answer never passes for a fast one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "bench/support/BenchSupport.hpp"
#include "bench/support/TreeFixture.hpp"
#include "core/Files.hpp"
#include "tests/support/ConsoleProcess.hpp"

namespace {

std::vector<std::string> findArguments(const std::string& root) {
    std::vector<std::string> args{"find", root, "("};
    auto prune = [&](const std::string& test, std::string_view name) {
        if (args.back() != "(") args.push_back("-o");
        args.push_back(test);
        args.emplace_back(name);
    };
    prune("-name", "node_modules");
    for (auto name : Files::heavyFolders) prune("-iname", name);
    for (auto name : Files::secretFolders) prune("-iname", name);
    for (auto more : {")", "-prune", "-o", "-type", "f", "-name", "*.md", "-print"}) args.emplace_back(more);
    return args;
}

long countLines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// How many files a GET /api/tree answer lists; -1 when it is no listing.
long listed(int status, const std::string& body) {
    auto tree = nlohmann::json::parse(body, nullptr, false);
    if (status != 200 || !tree.is_object() || !tree.contains("files")) return -1;
    return static_cast<long>(tree["files"].size());
}

long listedByConsole(const std::string& answerLine) {
    auto answer = nlohmann::json::parse(answerLine, nullptr, false);
    if (!answer.is_object() || !answer.contains("body") || !answer["body"].is_string()) return -1;
    return listed(ConsoleSession::statusOf(answerLine), answer["body"].get<std::string>());
}

// One tree and every way of listing it.
struct Subject {
    std::string root;
    bench::TreeCounts counts;
    std::unique_ptr<bench::BenchBridge> bridge;
    std::unique_ptr<ConsoleSession> console;
    std::shared_ptr<bench::BenchTask> lastInBridge;
    std::string lastInConsole;
};

void prepare(Subject& subject, const std::string& base, const std::string& name, const bench::TreeShape& shape) {
    subject.root = base + "/" + name;
    auto made = std::chrono::steady_clock::now();
    subject.counts = bench::makeTree(subject.root, shape);
    long entries = bench::fullWalk(subject.root);  // also brings every folder into the cache
    std::printf("%s tree: %ld files in %ld folders (%ld entries), %ld documents to list (made in %.1f s)\n",
                name.c_str(), subject.counts.files, subject.counts.folders, entries, subject.counts.notes,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count());

    // The Bridge itself, as the desktop program drives it: the request on the
    // main thread, the walk on the listing queue, the answer back on the main thread.
    subject.bridge = std::make_unique<bench::BenchBridge>(base + "/bridge-" + name, QUILLMARSH_EDITOR_DIR);
    subject.bridge->openFolder(subject.root);
    // The page's way through the console: one process, the folder opened
    // through the panel, then GET /api/tree timed from request line to answer line.
    subject.console = std::make_unique<ConsoleSession>(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR,
                                                       base + "/console-" + name);
    subject.console->send(nlohmann::json{{"panel", {{"chosen", true}, {"urls", {subject.root}}}}}.dump());
    std::string opened = subject.console->request("POST", "lornwick://app/api/choose-folder");
    if (ConsoleSession::statusOf(opened) != 200) {
        std::printf("FAIL tree_listing console opened the folder: %s\n", opened.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    std::string base = bench::freshFolder("quillmarsh-bench-tree");
    bench::Goals goals;
    {
        Subject small, large;
        prepare(small, base, "small", bench::TreeShape::small());
        prepare(large, base, "large", bench::TreeShape::large());

        // Correctness first: every way must find the same documents.
        for (Subject* subject : {&small, &large}) {
            std::vector<std::string> floorFound;
            bench::floorWalk(subject->root, floorFound);
            Files::Listing listing = Files::list(subject->root, 5000);
            long findCount = countLines(bench::runProgram(findArguments(subject->root)));
            long expected = subject->counts.notes;
            bool right = static_cast<long>(listing.paths.size()) == expected && !listing.truncated &&
                         static_cast<long>(floorFound.size()) == expected && findCount == expected;
            char what[160];
            std::snprintf(what, sizeof what, "list %zu, floor %zu, find %ld of %ld", listing.paths.size(),
                          floorFound.size(), findCount, expected);
            goals.holds("tree_listing same documents every way", right, what);
        }

        auto waysOf = [&](Subject& s) {
            return std::vector<bench::Way>{
                {[&s] {
                    std::vector<std::string> paths;
                    bench::floorWalk(s.root, paths);
                }},
                {[&s] { (void)Files::list(s.root, 5000); }},
                {[&s] {
                    s.lastInBridge = s.bridge->task("GET", "/api/tree");
                    s.bridge->run(s.lastInBridge);
                }},
                {[&s] { s.lastInConsole = s.console->request("GET", "lornwick://app/api/tree"); }},
                {[&s] { (void)bench::runProgram(findArguments(s.root)); }},
            };
        };
        enum { kFloor, kList, kBridge, kConsole, kFind, kWays };
        std::vector<bench::Way> ways = waysOf(small);
        for (auto& way : waysOf(large)) ways.push_back(way);
        ways.push_back(small.bridge->roundTripWay(20));
        ways.push_back({[&] { (void)small.console->request("GET", "lornwick://app/api/build"); }, 20});
        for (auto& way : ways) way.run();  // warm up
        auto medians = bench::alternatingMedians(rounds, ways);
        double bridgeRoundTrip = medians[2 * kWays];
        double consoleRoundTrip = medians[2 * kWays + 1];

        for (Subject* subject : {&small, &large}) {
            long expected = subject->counts.notes;
            long byBridge = listed(subject->lastInBridge->status, subject->lastInBridge->body);
            long byConsole = listedByConsole(subject->lastInConsole);
            char what[120];
            std::snprintf(what, sizeof what, "Bridge %ld, console %ld of %ld", byBridge, byConsole, expected);
            goals.holds("tree_listing GET /api/tree lists every document", byBridge == expected && byConsole == expected,
                        what);
        }

        double smallCount = static_cast<double>(small.counts.notes);
        double largeCount = static_cast<double>(large.counts.notes);
        auto line = [&](int way) { return bench::throughTwo(smallCount, medians[way], largeCount, medians[kWays + way]); };
        const char* names[kWays] = {"raw walk with the pruning (floor)", "Files::list in process",
                                    "GET /api/tree in the Bridge", "GET /api/tree through the console",
                                    "find with the same pruning"};
        std::printf("medians of %d rounds, %ld and %ld documents\n", rounds, small.counts.notes, large.counts.notes);
        for (int way = 0; way < kWays; ++way) {
            std::printf("%-34s %8.2f ms %8.2f ms\n", names[way], medians[way] * 1e3, medians[kWays + way] * 1e3);
        }
        std::printf("GET /api/build round trip: Bridge %.1f us, console %.1f us\n", bridgeRoundTrip * 1e6,
                    consoleRoundTrip * 1e6);
        for (int way = 0; way < kWays; ++way) bench::printLine(names[way], line(way), "document");

        bench::Line floor = line(kFloor);
        bench::Line console = line(kConsole);
        bench::Line find = line(kFind);
        goals.atMost("tree_listing per document through the console", bench::ratio(console.perItem, floor.perItem), 2,
                     "x the floor");
        goals.atMost("tree_listing per document through the console against find", bench::ratio(console.perItem, find.perItem), 1,
                     "x find's");
        goals.atMost("tree_listing fixed cost through the console over the floor's",
                     (console.fixed - floor.fixed) / consoleRoundTrip, 2, "console round trips");
    }
    std::filesystem::remove_all(base);
    return goals.exitCode();
}
