// POST /api/versions for 200 documents that have not changed, against the
// floor of what the check cannot avoid: one lstat of each of the 200 files.
// Goal: at most 2 times the floor.
//
// The documents lie in a folder a few levels down, as real ones do; half are
// named by path in the open folder, half by file handle.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/bridge/Bridge.hpp"
#include "bench/BenchSupport.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

}  // namespace

int main() {
    auto home = fs::temp_directory_path() / "quillmarsh-bench-versions";
    fs::remove_all(home);
    fs::path folder = home / "Documents/Notes";
    fs::create_directories(folder / "projects");
    fs::create_directories(home / "editor");
    std::ofstream(home / "editor/version.json") << R"({"name": "Quillmarsh", "version": "1"})";

    RunLoopMainQueue main;
    NoPlatform platform;
    NoBookmarks bookmarks;
    Bridge bridge((home / "editor").string(), Platform{main, platform, platform, bookmarks}, (home / "data").string());

    std::vector<std::string> paths;
    nlohmann::json items = nlohmann::json::array();
    bridge.io.sync([&] {
        bridge.root = folder.string();
        for (int i = 0; i < 200; ++i) {
            std::string relative = "projects/note " + std::to_string(i) + ".md";
            std::string path = (folder / relative).string();
            std::ofstream(path) << "# Note " << i << "\n" << std::string(2000, 'x');
            paths.push_back(path);
            if (i % 2 == 0) items.push_back({{"key", std::to_string(i)}, {"path", relative}});
            else items.push_back({{"key", std::to_string(i)}, {"file", bridge.handle(path)}});
        }
    });
    std::string body = nlohmann::json{{"items", items}}.dump();

    auto check = [&] {
        SchemeRequest request;
        request.url = "lornwick://app/api/versions";
        request.method = "POST";
        request.headers = {{"X-Quillmarsh-Token", bridge.token}};
        request.body = body;
        auto task = std::make_shared<BenchTask>(std::move(request));
        bridge.start(task);
        while (task->status == 0) main.runOnce(std::chrono::seconds(1));
        if (task->status != 200) {
            std::printf("check failed: %d %s\n", task->status, task->body.c_str());
            std::exit(1);
        }
    };
    volatile long sink = 0;
    auto lstats = [&] {
        struct stat status;
        for (const auto& path : paths) {
            if (::lstat(path.c_str(), &status) == 0) sink = sink + status.st_size;
        }
    };

    check();  // the first check reads and hashes every document; later ones only look
    auto [floor, ours] = alternatingMedians(31, 20, lstats, check);
    std::printf("200 lstat calls (floor): %.1f us\n", floor * 1e6);
    std::printf("POST /api/versions, 200 unchanged: %.1f us\n", ours * 1e6);
    std::printf("ratio: %.2f x the floor (goal <= 2)\n", ours / floor);
    fs::remove_all(home);
    return 0;
}
