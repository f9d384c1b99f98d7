// GET /api/image of a 5 MiB picture in the open folder (frame, io hop, the
// reference resolved and checked, the picture opened from its checked folder,
// read, answered with its headers) against the least reading it costs: open,
// fstat and read of the same file into a buffer of its size, in the same run.
// Goal: at most 1.3 times the floor.
//
// The ways are measured in alternation (see BenchSupport.hpp), so that both
// see the same load and the same page cache.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "bench/support/BenchSupport.hpp"
#include "core/Dispatch.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t pictureSize = 5 << 20;

}  // namespace

int main() {
    std::string home = bench::freshFolder("quillmarsh-bench-image");
    fs::path folder = fs::path(home) / "Notes";
    fs::create_directories(folder / "pictures");
    std::ofstream(folder / "trip.md") << "![](pictures/harbour.png)\n";
    std::string picture = (folder / "pictures/harbour.png").string();
    {
        std::mt19937 random(7);
        std::string bytes(pictureSize, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        std::ofstream(picture, std::ios::binary) << bytes;
    }

    bench::Goals goals;
    {
        bench::BenchBridge bench(home);
        bench.openFolder(folder.string());
        std::shared_ptr<bench::BenchTask> last;
        auto serve = [&] {
            last = bench.task("GET", "/api/image?path=trip.md&src=pictures/harbour.png");
            bench.run(last);
        };
        serve();
        goals.holds("image_endpoint answer", last->status == 200 && last->body.size() == pictureSize,
                    std::to_string(last->status) + ", " + std::to_string(last->body.size()) + " bytes");

        // The floor reads on a queue of its own, as the Bridge reads on io:
        // on the main thread the allocator gives a freed 5 MiB back to the
        // system at once and faults it in again on the next read, which costs
        // several times the read itself. Ten reads per hop, so the hop hardly
        // counts. Each way keeps its last picture until its next call begins,
        // as the answered task keeps its body, so both meet the allocator alike.
        constexpr int readsPerHop = 10;
        SerialQueue reader{"quillmarsh.bench.reader"};
        std::string kept;
        auto floor = [&] {
            reader.sync([&] {
                for (int i = 0; i < readsPerHop; ++i) {
                    kept = std::string();
                    kept = bench::readFile(picture);
                }
            });
        };
        auto medians = bench::alternatingMedians(31, {{floor, 1}, {serve, readsPerHop}});
        medians[0] /= readsPerHop;
        goals.holds("image_endpoint floor read", kept.size() == pictureSize, std::to_string(kept.size()) + " bytes");
        std::printf("open + fstat + read of 5 MiB (floor): %.1f us\n", medians[0] * 1e6);
        std::printf("GET /api/image of 5 MiB: %.1f us\n", medians[1] * 1e6);
        goals.atMost("image_endpoint 5 MiB picture", bench::ratio(medians[1], medians[0]), 1.3, "x the floor");
    }
    fs::remove_all(home);
    return goals.exitCode();
}
