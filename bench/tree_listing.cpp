// GET /api/tree on a folder that also holds a node_modules of 150k files, a
// .git of 20k objects and a .venv of 30k files, through the console as the
// page would ask it, against `find` with the same pruning and against the
// floor of a raw directory walk with that pruning, all in the same run.
//
// Usage: tree_listing [rounds]. Prints medians and ratios; exits 1 when an
// answer is wrong (so a fast wrong answer never passes for a fast one).
#include <nlohmann/json.hpp>

#include "app/bridge/Bridge.hpp"
#include "bench/tree_fixture.hpp"

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

std::string treeRequest(long id, const std::string& token) {
    return nlohmann::json{{"id", id},
                          {"url", "lornwick://app/api/tree"},
                          {"method", "GET"},
                          {"headers", {{"X-Quillmarsh-Token", token}}}}
        .dump();
}

class BenchTask final : public SchemeTask {
public:
    explicit BenchTask(SchemeRequest request) : request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap&, const std::string& body) override {
        this->status = status;
        this->body = body;
    }
    int status = 0;
    std::string body;

private:
    SchemeRequest request_;
};

class ChosenFolder final : public Panels, public Workspace {
public:
    explicit ChosenFolder(std::string folder) : folder_(std::move(folder)) {}
    void runPanel(const PanelOptions&, std::function<void(PanelResult)> done) override { done({true, {folder_}}); }
    void openURL(const std::string&) override {}
    void openFolder(const std::string&) override {}

private:
    std::string folder_;
};

// Reads console lines until the answer to `id`.
std::string answerTo(bench::Console& console, long id) {
    std::string mark = "\"id\":" + std::to_string(id) + ",\"status\":";
    for (;;) {
        std::string line = console.readLine();
        // The id follows the long body: look from the end.
        if (line.empty() || line.rfind(mark) != std::string::npos) return line;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    std::string base = bench::freshFolder("quillmarsh-bench-tree");
    std::string root = base + "/notes";

    auto made = std::chrono::steady_clock::now();
    bench::TreeCounts counts = bench::TreeMaker(root).make();
    std::printf("tree: %ld files in %ld folders, %ld documents to list (made in %.1f s)\n", counts.files,
                counts.folders, counts.notes, bench::Seconds(std::chrono::steady_clock::now() - made).count());
    long entries = bench::fullWalk(root);  // also brings every folder into the cache

    // Correctness first: every way must find the same documents.
    bool right = true;
    std::vector<std::string> floorFound;
    bench::floorWalk(root, floorFound);
    Files::Listing listing = Files::list(root, 5000);
    std::string found = bench::runProgram(findArguments(root));
    long findCount = std::count(found.begin(), found.end(), '\n');
    if (static_cast<long>(listing.paths.size()) != counts.notes || listing.truncated ||
        static_cast<long>(floorFound.size()) != counts.notes || findCount != counts.notes) {
        std::printf("WRONG: list %zu, floor %zu, find %ld, expected %ld\n", listing.paths.size(), floorFound.size(),
                    findCount, counts.notes);
        right = false;
    }

    // The Bridge itself, as the desktop program drives it: the request on the
    // main thread, the walk on the listing queue, the answer back on the main thread.
    RunLoopMainQueue main;
    ChosenFolder platform(root);
    NoBookmarks bookmarks;
    Bridge bridge(QUILLMARSH_EDITOR_DIR, Platform{main, platform, platform, bookmarks}, base + "/home/data");
    std::shared_ptr<BenchTask> lastInBridge;
    auto inBridge = [&](const std::string& method, const std::string& path) {
        SchemeRequest request;
        request.url = "lornwick://app" + path;
        request.method = method;
        request.headers = {{"X-Quillmarsh-Token", bridge.token}};
        lastInBridge = std::make_shared<BenchTask>(request);
        bridge.start(lastInBridge);
        while (lastInBridge->status == 0) main.runOnce(std::chrono::seconds(1));
    };
    inBridge("POST", "/api/choose-folder");

    // The page's way through the console: one process, the folder opened
    // through the panel, then GET /api/tree timed from request line to answer line.
    bench::Console process(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, base + "/home");
    auto token = nlohmann::json::parse(process.readLine()).value("token", "");
    process.send(nlohmann::json{{"panel", {{"chosen", true}, {"urls", {root}}}}}.dump());
    process.send(nlohmann::json{{"id", 1},
                                {"url", "lornwick://app/api/choose-folder"},
                                {"method", "POST"},
                                {"headers", {{"X-Quillmarsh-Token", token}}}}
                     .dump());
    answerTo(process, 1);
    long id = 1;
    std::string lastInConsole;

    // Each round measures every way once, side by side, so that load from
    // elsewhere on the machine weighs on all of them alike; the ratios are
    // taken per round, then their median.
    std::vector<std::function<void()>> ways{
        [&] {
            std::vector<std::string> paths;
            bench::floorWalk(root, paths);
        },
        [&] { (void)Files::list(root, 5000); },
        [&] { inBridge("GET", "/api/tree"); },
        [&] {
            process.send(treeRequest(++id, token));
            lastInConsole = answerTo(process, id);
        },
        [&] { (void)bench::runProgram(findArguments(root)); },
    };
    enum { kFloor, kList, kBridge, kConsole, kFind };
    for (auto& way : ways) way();  // warm up
    std::vector<std::vector<double>> times(ways.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t w = 0; w < ways.size(); ++w) times[w].push_back(bench::median(1, ways[w]));
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    auto ratio = [&](int over, int under) {
        std::vector<double> ratios;
        for (int round = 0; round < rounds; ++round) ratios.push_back(times[over][round] / times[under][round]);
        return median(ratios);
    };
    double full = bench::median(3, [&] { (void)bench::fullWalk(root); });

    if (lastInBridge->status != 200 ||
        static_cast<long>(nlohmann::json::parse(lastInBridge->body)["files"].size()) != counts.notes) {
        std::printf("WRONG: the Bridge answered %d\n", lastInBridge->status);
        right = false;
    }
    auto answer = nlohmann::json::parse(lastInConsole);
    auto tree = nlohmann::json::parse(answer["body"].get<std::string>());
    if (answer["status"] != 200 || static_cast<long>(tree["files"].size()) != counts.notes) {
        std::printf("WRONG: console answered %s with %zu files\n", answer["status"].dump().c_str(),
                    tree["files"].size());
        right = false;
    }

    std::printf("medians of %d rounds\n", rounds);
    std::printf("raw walk of everything (%ld entries): %8.2f ms\n", entries, full * 1e3);
    std::printf("raw walk with the pruning (floor):     %8.2f ms\n", median(times[kFloor]) * 1e3);
    std::printf("find with the same pruning:            %8.2f ms\n", median(times[kFind]) * 1e3);
    std::printf("Files::list in process:                %8.2f ms  (%.2f x floor)\n", median(times[kList]) * 1e3,
                ratio(kList, kFloor));
    std::printf("GET /api/tree in the Bridge:           %8.2f ms  (%.2f x floor, %.2f x find)\n",
                median(times[kBridge]) * 1e3, ratio(kBridge, kFloor), ratio(kBridge, kFind));
    double overFloor = ratio(kConsole, kFloor);
    double overFind = ratio(kConsole, kFind);
    std::printf("GET /api/tree through the console:     %8.2f ms  (%.2f x floor, %.2f x find)\n",
                median(times[kConsole]) * 1e3, overFloor, overFind);
    std::printf("goals: faster than find: %s; within 2x of the floor: %s\n", overFind < 1 ? "yes" : "NO",
                overFloor <= 2 ? "yes" : "NO");

    std::filesystem::remove_all(base);
    return right ? 0 : 1;
}
