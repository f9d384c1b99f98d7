// Recovery copies through the Bridge against the least the same disk work costs.
//
// Keep: POST /api/recovery of a 1 MiB text (frame, io hop, body parsed,
// entry written to a private temporary file, flushed, renamed, folder
// flushed, answer) against the raw durable write of the same entry bytes:
// create, write, fsync, rename, folder fsync, measured in the same run on the
// same disk. Goal: at most 1.3 times the floor.
//
// Listing: GET /api/recovery with 100 entries of 100 KiB each (read, parse
// and summarise every entry, counting user-perceived characters of 10 MB of
// text, and answer) against reading and parsing the same files in a plain
// loop. Goal: at most 1.5 times the floor.
//
// The ways are measured in alternation (see BenchSupport.hpp), so that all
// see the same load and the same state of the disk.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "bench/support/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t keepSize = 1 << 20;
constexpr int listedEntries = 100;
constexpr std::size_t listedSize = 100 * 1024;

// Prose-like text: words, spaces, line breaks and now and then a quote, so
// the entry's JSON has escapes to write as real notes do.
std::string someText(std::size_t size, unsigned seed) {
    static constexpr char letters[] = "etaoinshrdlucmfwypvbgkqjxz";
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size);
    while (text.size() < size) {
        std::size_t word = 1 + random() % 9;
        for (std::size_t i = 0; i < word; ++i) text += letters[random() % 26];
        unsigned after = random() % 40;
        text += after == 0 ? '\n' : after == 1 ? '"' : ' ';
    }
    text.resize(size);
    return text;
}

// Every ".json" file of the folder read and parsed, as simply as it can be
// done: what a listing cannot do without.
std::size_t readAndParseAll(const std::string& folder) {
    std::size_t objects = 0;
    DIR* dir = ::opendir(folder.c_str());
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (!name.ends_with(".json")) continue;
        auto value = nlohmann::json::parse(bench::readFile(folder + "/" + name), nullptr, false);
        if (value.is_object()) ++objects;
    }
    ::closedir(dir);
    return objects;
}

}  // namespace

int main() {
    std::string home = bench::freshFolder("quillmarsh-bench-recovery");
    fs::create_directories(home + "/raw");
    bench::Goals goals;
    {
        bench::BenchBridge bench(home);
        const std::string recovery = home + "/data/Quillmarsh/recovery";

        // --- keep ---------------------------------------------------------------
        std::vector<std::string> bodies;
        std::vector<std::string> texts;
        for (unsigned seed : {1u, 2u}) {
            texts.push_back(someText(keepSize, seed));
            bodies.push_back(nlohmann::json{{"id", "bench-keep"}, {"text", texts.back()}, {"name", "notes.md"},
                                            {"base", std::string(64, 'a')}}
                                 .dump());
        }
        int next = 0;
        int lastKept = -1;
        std::shared_ptr<bench::BenchTask> keepTask;
        auto prepareKeep = [&] {
            next = 1 - next;
            keepTask = bench.task("POST", "/api/recovery", bodies[static_cast<std::size_t>(next)]);
        };
        auto keep = [&] {
            bench.run(keepTask);
            if (keepTask->status != 200) {
                std::printf("FAIL recovery_endpoint keep answered: %d %s\n", keepTask->status, keepTask->body.c_str());
                std::exit(1);
            }
            lastKept = next;
        };
        // Warm up; the entry's bytes as written are the floor's bytes.
        for (int i = 0; i < 2; ++i) {
            prepareKeep();
            keep();
        }
        std::vector<std::string> entryBytes;
        for (int i = 0; i < 2; ++i) {
            prepareKeep();
            keep();
            entryBytes.push_back(bench::readFile(recovery + "/bench-keep.json"));
        }
        int rawNext = 0;
        auto raw = [&] {
            rawNext = 1 - rawNext;
            if (!bench::durableReplace(home + "/raw", home + "/raw/bench-keep.json",
                                       entryBytes[static_cast<std::size_t>(rawNext)], 0600)) {
                std::printf("FAIL recovery_endpoint raw keep failed\n");
                std::exit(1);
            }
        };
        raw();
        prepareKeep();

        auto keepMedians =
            bench::alternatingMedians(21, {{raw, 3}, {keep, 3, prepareKeep}, bench.roundTripWay(50)});
        auto last = nlohmann::json::parse(bench::readFile(recovery + "/bench-keep.json"));
        bool kept = last["text"] == texts[static_cast<std::size_t>(lastKept)];
        goals.holds("recovery_endpoint keep on disk", kept, kept ? "the last text" : "another text");
        std::printf("entry of %zu bytes; raw write+fsync+rename+folder fsync (floor): %.3f ms\n",
                    entryBytes[0].size(), keepMedians[0] * 1e3);
        std::printf("POST /api/recovery of 1 MiB:                                      %.3f ms\n",
                    keepMedians[1] * 1e3);
        std::printf("GET /api/build round trip: %.1f us\n", keepMedians[2] * 1e6);
        goals.atMost("recovery_endpoint keep", bench::ratio(keepMedians[1], keepMedians[0]), 1.3, "x the floor");

        // --- listing ------------------------------------------------------------
        fs::remove_all(recovery);
        for (int i = 0; i < listedEntries; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "listed-%03d", i);
            bench.expect(200, "POST", "/api/recovery",
                         nlohmann::json{{"id", id},
                                        {"text", someText(listedSize, 100u + static_cast<unsigned>(i))},
                                        {"name", std::string(id) + ".md"}}
                             .dump());
        }
        std::size_t listed = 0;
        auto list = [&] {
            auto answer = bench.expect(200, "GET", "/api/recovery");
            listed = answer->body.size();
        };
        std::size_t parsed = 0;
        auto floor = [&] { parsed = readAndParseAll(recovery); };
        list();
        floor();
        auto listMedians = bench::alternatingMedians(15, {{floor, 2}, {list, 2}});
        auto items = nlohmann::json::parse(bench.expect(200, "GET", "/api/recovery")->body)["items"];
        bool whole = parsed == listedEntries && items.size() == listedEntries && items[0]["size"] == listedSize;
        goals.holds("recovery_endpoint listing complete", whole,
                    std::to_string(items.size()) + " items of " + std::to_string(parsed) + " files");
        std::printf("read and parse %d entries of 100 KiB (floor): %.3f ms\n", listedEntries, listMedians[0] * 1e3);
        std::printf("GET /api/recovery (%zu bytes answered):        %.3f ms\n", listed, listMedians[1] * 1e3);
        goals.atMost("recovery_endpoint listing", bench::ratio(listMedians[1], listMedians[0]), 1.5, "x the floor");
    }
    fs::remove_all(home);
    return goals.exitCode();
}
