#include "bench/support/BenchSupport.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace

std::vector<double> alternatingMedians(int rounds, const std::vector<Way>& ways) {
    std::vector<std::vector<double>> times(ways.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t w = 0; w < ways.size(); ++w) {
            const Way& way = ways[w];
            Clock::duration spent{};
            for (int call = 0; call < way.calls; ++call) {
                auto start = Clock::now();
                way.run();
                spent += Clock::now() - start;
                if (way.reset) way.reset();
            }
            times[w].push_back(std::chrono::duration<double>(spent).count() / way.calls);
        }
    }
    std::vector<double> medians;
    for (auto& values : times) medians.push_back(median(std::move(values)));
    return medians;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Line throughTwo(double smallCount, double smallTime, double largeCount, double largeTime) {
    double perItem = (largeTime - smallTime) / (largeCount - smallCount);
    return {smallTime - perItem * smallCount, perItem};
}

double ratio(double over, double under) {
    return under > 0 ? over / under : std::numeric_limits<double>::infinity();
}

void printLine(const std::string& label, const Line& line, const std::string& item) {
    std::printf("%s: fixed %.1f us, per %s %.4f us\n", label.c_str(), line.fixed * 1e6, item.c_str(),
                line.perItem * 1e6);
}

void Goals::atMost(const std::string& goal, double measured, double bound, const std::string& unit) {
    verdict(measured <= bound, goal, format(measured) + " " + unit, "<= " + format(bound) + " " + unit);
}

void Goals::atLeast(const std::string& goal, double measured, double bound, const std::string& unit) {
    verdict(measured >= bound, goal, format(measured) + " " + unit, ">= " + format(bound) + " " + unit);
}

void Goals::holds(const std::string& goal, bool ok, const std::string& what) {
    verdict(ok, goal, what, "right answers");
}

void Goals::verdict(bool ok, const std::string& goal, const std::string& measured, const std::string& bound) {
    if (!ok) failed_ = true;
    std::printf("%s %s: %s (goal %s)\n", ok ? "PASS" : "FAIL", goal.c_str(), measured.c_str(), bound.c_str());
    std::fflush(stdout);
}

void BenchPlatform::runPanel(const PanelOptions&, std::function<void(PanelResult)> done) {
    if (choices.empty()) return done({});
    PanelResult result{true, std::move(choices.front())};
    choices.erase(choices.begin());
    done(std::move(result));
}

BenchBridge::BenchBridge(const std::string& home, const std::string& editor) {
    std::string editorFolder = editor;
    if (editorFolder.empty()) {
        editorFolder = home + "/editor";
        std::filesystem::create_directories(editorFolder + "/web");
        std::ofstream(editorFolder + "/version.json") << R"({"name": "Quillmarsh", "version": "1"})";
    }
    bridge = std::make_unique<Bridge>(editorFolder, Platform{main, platform, platform, bookmarks, platform}, home + "/data");
}

BenchBridge::~BenchBridge() { bridge.reset(); }

void BenchBridge::run(const std::shared_ptr<BenchTask>& task) {
    bridge->start(task);
    if (!main.runUntil([&] { return task->status != 0; }, std::chrono::minutes(1))) {
        std::printf("FAIL answered: no answer to %s within a minute\n", task->request().url->c_str());
        std::exit(1);
    }
}

std::shared_ptr<BenchTask> BenchBridge::task(const std::string& method, const std::string& path,
                                             const std::string& body, HeaderMap headers) const {
    SchemeRequest request;
    request.url = "lornwick://app" + path;
    request.method = method;
    headers["X-Quillmarsh-Token"] = bridge->token;
    request.headers = std::move(headers);
    request.body = body;
    return std::make_shared<BenchTask>(std::move(request));
}

std::shared_ptr<BenchTask> BenchBridge::expect(int expected, const std::string& method, const std::string& path,
                                               const std::string& body, HeaderMap headers) {
    auto answered = task(method, path, body, std::move(headers));
    run(answered);
    if (answered->status != expected) {
        std::printf("FAIL answered: %s %s gave %d %s\n", method.c_str(), path.c_str(), answered->status,
                    answered->body.c_str());
        std::exit(1);
    }
    return answered;
}

void BenchBridge::openFolder(const std::string& folder) {
    platform.choices.push_back({folder});
    expect(200, "POST", "/api/choose-folder");
}

std::vector<std::string> BenchBridge::chooseFiles(const std::vector<std::string>& paths) {
    platform.choices.push_back(paths);
    auto answer = nlohmann::json::parse(expect(200, "POST", "/api/choose-files")->body);
    std::vector<std::string> handles;
    for (const auto& file : answer["files"]) handles.push_back(file["file"]);
    return handles;
}

Way BenchBridge::roundTripWay(int calls) {
    SchemeRequest request = task("GET", "/api/build")->request();
    Way way{[this, request] { run(std::make_shared<BenchTask>(request)); }, calls};
    way.run();  // warm up: threads started, files cached
    return way;
}

std::string freshFolder(const std::string& name) {
    auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
}

std::string runProgram(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (started != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status;
    ::waitpid(pid, &status, 0);
    return text;
}

std::string readFile(const std::string& path) {
    std::string bytes;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0) ::close(fd);
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    ::close(fd);
    return bytes;
}

bool durableReplace(const std::string& folder, const std::string& target, const std::string& bytes, mode_t mode) {
    std::string temporary = folder + "/.raw.tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = wrote > 0;
        if (ok) done += static_cast<std::size_t>(wrote);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && ::fsync(dir) == 0;
    if (dir >= 0) ::close(dir);
    return ok;
}

}  // namespace bench
