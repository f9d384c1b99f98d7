// Watching a folder that also holds a node_modules of 150k files, a .git of
// 20k objects and a .venv of 30k files: how long FolderWatcher::watch takes
// and how many watches it places, against the folders outside the pruned
// trees (what it should watch) and all folders (what a naive watcher would),
// and against the floor of walking those folders and adding a watch to each
// with raw inotify calls, in the same run.
//
// Usage: watch_setup [rounds]. Exits 1 when the watches are not the expected ones.
#include <sys/inotify.h>

#include "bench/tree_fixture.hpp"
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
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "node_modules" || Files::secretFolders.contains(lower)) continue;
        watched += floorWatch(fd, folder + "/" + name);
    }
    ::closedir(dir);
    return watched;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 11;
    std::string base = bench::freshFolder("quillmarsh-bench-watch");
    std::string root = base + "/notes";
    bench::TreeCounts counts = bench::TreeMaker(root).make();
    (void)bench::fullWalk(root);  // every folder into the cache
    std::printf("tree: %ld files in %ld folders, %ld of them outside node_modules and secret folders\n",
                counts.files, counts.folders, counts.openFolders);

    // Only placing the watches is timed; dropping them (closing the inotify
    // descriptor) is not, on either side.
    long floorWatches = 0;
    std::vector<double> floorTimes, setupTimes;
    FolderWatcher watcher(std::chrono::seconds(1), [] {});
    for (int round = 0; round < rounds; ++round) {
        int fd = -1;
        floorTimes.push_back(bench::median(1, [&] {
            fd = ::inotify_init1(IN_CLOEXEC);
            floorWatches = floorWatch(fd, root);
        }));
        ::close(fd);
        setupTimes.push_back(bench::median(1, [&] { watcher.watch(root); }));
        if (round + 1 < rounds) watcher.watch(std::nullopt);
    }
    std::sort(floorTimes.begin(), floorTimes.end());
    std::sort(setupTimes.begin(), setupTimes.end());
    double floor = floorTimes[floorTimes.size() / 2];
    double setup = setupTimes[setupTimes.size() / 2];
    auto snapshot = watcher.snapshot();
    watcher.watch(std::nullopt);

    bool right = static_cast<long>(snapshot.folders.size()) == counts.openFolders && snapshot.leftOut == 0 &&
                 floorWatches == counts.openFolders;
    for (const auto& folder : snapshot.folders) {
        for (const auto& part : std::filesystem::path(folder)) {
            if (part == "node_modules" || part == ".git") right = false;
        }
    }
    std::printf("watches placed: %zu (expected %ld; a watch on every folder would take %ld)\n",
                snapshot.folders.size(), counts.openFolders, counts.folders);
    std::printf("raw walk and inotify_add_watch (floor): %8.2f ms\n", floor * 1e3);
    std::printf("FolderWatcher::watch:                   %8.2f ms  (%.2f x floor)\n", setup * 1e3, setup / floor);
    if (!right) std::printf("WRONG: the watches are not the expected ones (floor placed %ld)\n", floorWatches);

    std::filesystem::remove_all(base);
    return right ? 0 : 1;
}
