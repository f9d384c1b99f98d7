#pragma once
// What every benchmark shares: the way it times, the way it splits a time into
// fixed and per-item cost, the way it judges its goals, and a Bridge driven
// only as the page drives it.
//
// How a benchmark measures. Each one runs our code beside a floor: the least
// the same work can cost on this machine (raw system calls, a raw digest, two
// empty queue hops), measured in the same run. The ways take turns round by
// round (alternatingMedians) and the median per way is kept, so load from
// elsewhere on the machine falls on all of them alike.
//
// Why fixed cost is kept apart. A request pays a fixed cost (thread hand-offs,
// wake-ups, parsing the request) and then a cost per document or per byte. The
// fixed part depends on the machine far more than the per-item part: a wake-up
// on a virtual machine costs several times what it costs on bare metal. A
// single ratio of two totals at one size therefore means something else on
// every machine. So the work that scales is timed at two sizes, a small and a
// large one, and a straight line is put through the two medians, for ours and
// for the floor alike (throughTwo):
//     time(n) = fixed + perItem * n
// The goal is then judged on what it is about:
//   - per item: our slope against the floor's slope, both from this run;
//   - fixed: our intercept less the floor's, against a bound printed with it,
//     normally a number of request round trips (GET /api/build through the
//     Bridge, or through the console for console benchmarks) measured in the
//     same run. The requests measured ride one more queue hop than that round
//     trip, so two round trips leave room for their own parsing and no more.
//
// How a benchmark reports. It prints its figures, then one line per goal:
//     PASS <goal>: <measured> (goal <bound>)      or      FAIL ...
// and exits 1 when any goal was missed or an answer was wrong (a fast wrong
// answer never passes for a fast one). scripts/bench.sh collects the lines.
#include <cstddef>
#include <sys/types.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/bridge/Bridge.hpp"
#include "core/Bookmarks.hpp"

namespace bench {

// --- timing ------------------------------------------------------------------

// One way of doing the work: `run` is timed `calls` times in a row per round;
// `reset`, when given, runs after each call outside the clock (to undo what
// the call did, say).
struct Way {
    std::function<void()> run;
    int calls = 1;
    std::function<void()> reset = {};
};

// Median seconds per call of each way, over `rounds` rounds in which every way
// takes its turn, in the order given.
std::vector<double> alternatingMedians(int rounds, const std::vector<Way>& ways);

// The median of the values (the upper one of an even count); 0 for none.
double median(std::vector<double> values);

// --- fixed and per-item cost ---------------------------------------------------

struct Line {
    double fixed;    // seconds at zero items (the intercept)
    double perItem;  // seconds per item (the slope)
};

// The line through (smallCount, smallTime) and (largeCount, largeTime);
// largeCount must exceed smallCount.
Line throughTwo(double smallCount, double smallTime, double largeCount, double largeTime);

// over / under, or infinity when `under` is not above zero: a floor whose
// cost did not show (noise, a slope that came out flat) must fail a ratio
// goal, not pass it with a negative or endless ratio.
double ratio(double over, double under);

// Prints "<label> fixed <x> us, per <item> <y> us".
void printLine(const std::string& label, const Line& line, const std::string& item);

// --- goals -------------------------------------------------------------------

// Collects the verdicts of one benchmark; each verdict prints its line.
class Goals {
public:
    // PASS when measured <= bound. `unit` follows both numbers ("x the floor").
    void atMost(const std::string& goal, double measured, double bound, const std::string& unit);
    // PASS when measured >= bound.
    void atLeast(const std::string& goal, double measured, double bound, const std::string& unit);
    // A correctness condition: PASS or FAIL with `what` as the figure.
    void holds(const std::string& goal, bool ok, const std::string& what);
    // 0 when every goal passed, else 1.
    int exitCode() const { return failed_ ? 1 : 0; }

private:
    void verdict(bool ok, const std::string& goal, const std::string& measured, const std::string& bound);
    bool failed_ = false;
};

// --- a Bridge driven as the page drives it -------------------------------------

// A scheme task that keeps its answer.
class BenchTask final : public SchemeTask {
public:
    explicit BenchTask(SchemeRequest request) : request_(std::move(request)) {}
    const SchemeRequest& request() const override { return request_; }
    void finish(int status, const HeaderMap&, std::string body) override {
        this->body = std::move(body);
        this->status = status;
    }
    int status = 0;  // 0 until answered
    std::string body;

private:
    SchemeRequest request_;
};

// A platform that shows nothing: each panel answers at once with the next
// choice queued in `choices` (a panel with none queued is cancelled).
class BenchPlatform final : public Panels, public Workspace, public Network {
public:
    void runPanel(const PanelOptions&, std::function<void(PanelResult)> done) override;
    void openURL(const std::string&) override {}
    void openFolder(const std::string&) override {}
    bool online() override { return true; }

    std::vector<std::vector<std::string>> choices;
};

// A Bridge with an editor folder and a data home of its own below `home`,
// reached only through what the page reaches: Bridge::start, the token, the
// main queue (and the io queue for a floor of queue hops).
class BenchBridge {
public:
    // `editor` empty: a minimal editor folder is laid out below `home`.
    explicit BenchBridge(const std::string& home, const std::string& editor = "");
    ~BenchBridge();

    // Starts the task and pumps the main queue until it is answered; exits the
    // program when no answer comes within a minute (a hung bench is a failure).
    void run(const std::shared_ptr<BenchTask>& task);
    // A request with the token and an optional body and headers; the task is
    // made before any clock a caller starts after this call.
    std::shared_ptr<BenchTask> task(const std::string& method, const std::string& path, const std::string& body = "",
                                    HeaderMap headers = {}) const;
    // run(task(...)), exiting the program with the answer printed unless the
    // status is `expected`.
    std::shared_ptr<BenchTask> expect(int expected, const std::string& method, const std::string& path,
                                      const std::string& body = "", HeaderMap headers = {});

    // Opens the folder through POST /api/choose-folder, the panel choosing it.
    void openFolder(const std::string& folder);
    // Opens documents through POST /api/choose-files; returns their handles in order.
    std::vector<std::string> chooseFiles(const std::vector<std::string>& paths);

    // One GET /api/build round trip, `calls` times a round: the fixed-cost
    // unit, timed among the benchmark's other ways so that it sees the same
    // load. Warmed up before it is returned.
    Way roundTripWay(int calls);

    RunLoopMainQueue main;
    BenchPlatform platform;
    NoBookmarks bookmarks;
    std::unique_ptr<Bridge> bridge;
};

// --- files and programs ----------------------------------------------------------

// A fresh folder under the system's temporary folder (emptied if it existed).
std::string freshFolder(const std::string& name);

// The least a durable replacement of a file costs, the floor of every writer:
// a fresh temporary file in `folder` written, flushed and closed, renamed over
// `target`, and the folder flushed. False when any step failed.
bool durableReplace(const std::string& folder, const std::string& target, const std::string& bytes, mode_t mode);

// The whole file read into a buffer of its size with one open, fstat and
// read: no stream in between. Empty when it cannot be read.
std::string readFile(const std::string& path);

// Runs a program found on PATH and returns what it printed on standard output;
// throws when it cannot be started.
std::string runProgram(const std::vector<std::string>& argv);

}  // namespace bench
