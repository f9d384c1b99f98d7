// Watching a folder that also holds a node_modules of 150k files, a .git of
// 20k objects and a .venv of 30k files: how long FolderWatcher::watch takes
// and how many watches it places, against the folders outside the pruned
// trees (what it should watch) and all folders (what a naive watcher would),
// and against the floor of walking those folders and adding a watch to each
// with raw inotify calls, in the same run.
// Goals: per watched folder at most 2 times the floor (the bound the listing
// has over the same kind of walk); fixed cost at most 2 GET /api/build round
// trips over the floor's (a watch is placed when the page opens a folder, and
// should cost no more than a request's hand-offs on top of the raw calls).
//
// Timed on a small and a large tree (TreeShape); the line through the two
// medians splits each time into fixed cost and cost per watched folder (see
// BenchSupport.hpp). Only placing the watches is timed; dropping them is not,
// on either side.
//
// Usage: watch_setup [rounds]. Exits 1 when a goal is missed or the watches
// are not the expected ones.
#include <sys/inotify.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdio>
#include <filesystem>

#include "bench/support/BenchSupport.hpp"
#include "bench/support/TreeFixture.hpp"
#include "core/FolderWatcher.hpp"

namespace {

// The least placing the watches can cost: the same folders walked and
// watched, without the path rules.
long floorWatch(int fd, const std::string& folder) {
    if (::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
        return 0;
    }
    long watched = 1;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return watched;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || entry->d_type != DT_DIR) continue;
        if (bench::prunedFolder(name, false)) continue;
        watched += floorWatch(fd, folder + "/" + name);
    }
    ::closedir(dir);
    return watched;
}

// One tree, its raw watches and its watcher.
struct Subject {
    std::string root;
    bench::TreeCounts counts;
    int fd = -1;
    long floorWatches = 0;
    FolderWatcher watcher{std::chrono::seconds(1), [] {}};
};

bool watchesRight(Subject& subject, std::string& what) {
    auto snapshot = subject.watcher.snapshot();
    bool right = static_cast<long>(snapshot.folders.size()) == subject.counts.openFolders && snapshot.leftOut == 0 &&
                 subject.floorWatches == subject.counts.openFolders;
    for (const auto& folder : snapshot.folders) {
        for (const auto& part : std::filesystem::path(folder)) {
            if (part == "node_modules" || part == ".git") right = false;
        }
    }
    char text[200];
    std::snprintf(text, sizeof text, "%zu placed, floor %ld, expected %ld (a watch on every folder would take %ld)",
                  snapshot.folders.size(), subject.floorWatches, subject.counts.openFolders, subject.counts.folders);
    what = text;
    return right;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 11;
    std::string base = bench::freshFolder("quillmarsh-bench-watch");
    bench::Goals goals;
    {
        Subject small, large;
        for (auto [subject, name, shape] : {std::tuple{&small, "small", bench::TreeShape::small()},
                                            std::tuple{&large, "large", bench::TreeShape::large()}}) {
            subject->root = base + "/" + name;
            subject->counts = bench::makeTree(subject->root, shape);
            (void)bench::fullWalk(subject->root);  // every folder into the cache
            std::printf("%s tree: %ld files in %ld folders, %ld of them outside node_modules and secret folders\n",
                        name, subject->counts.files, subject->counts.folders, subject->counts.openFolders);
        }
        bench::BenchBridge requests(base + "/home");

        auto waysOf = [](Subject& s) {
            return std::vector<bench::Way>{
                {[&s] {
                     s.fd = ::inotify_init1(IN_CLOEXEC);
                     s.floorWatches = floorWatch(s.fd, s.root);
                 },
                 1, [&s] { ::close(s.fd); }},
                {[&s] { s.watcher.watch(s.root); }, 1, [&s] { s.watcher.watch(std::nullopt); }},
            };
        };
        std::vector<bench::Way> ways = waysOf(small);
        for (auto& way : waysOf(large)) ways.push_back(way);
        ways.push_back(requests.roundTripWay(20));
        auto medians = bench::alternatingMedians(rounds, ways);
        double roundTrip = medians[4];

        // The watches as the last round placed them, then judged.
        for (Subject* subject : {&small, &large}) {
            subject->fd = ::inotify_init1(IN_CLOEXEC);
            subject->floorWatches = floorWatch(subject->fd, subject->root);
            ::close(subject->fd);
            subject->watcher.watch(subject->root);
            std::string what;
            goals.holds("watch_setup the expected watches", watchesRight(*subject, what), what);
            subject->watcher.watch(std::nullopt);
        }

        double smallCount = static_cast<double>(small.counts.openFolders);
        double largeCount = static_cast<double>(large.counts.openFolders);
        bench::Line floor = bench::throughTwo(smallCount, medians[0], largeCount, medians[2]);
        bench::Line ours = bench::throughTwo(smallCount, medians[1], largeCount, medians[3]);
        std::printf("raw walk and inotify_add_watch (floor): %8.2f ms %8.2f ms\n", medians[0] * 1e3, medians[2] * 1e3);
        std::printf("FolderWatcher::watch:                   %8.2f ms %8.2f ms\n", medians[1] * 1e3, medians[3] * 1e3);
        std::printf("GET /api/build round trip: %.1f us\n", roundTrip * 1e6);
        bench::printLine("raw watches (floor)", floor, "folder");
        bench::printLine("FolderWatcher::watch", ours, "folder");
        goals.atMost("watch_setup per watched folder", bench::ratio(ours.perItem, floor.perItem), 2, "x the floor");
        goals.atMost("watch_setup fixed cost over the floor's", (ours.fixed - floor.fixed) / roundTrip, 2,
                     "round trips");
    }
    std::filesystem::remove_all(base);
    return goals.exitCode();
}
