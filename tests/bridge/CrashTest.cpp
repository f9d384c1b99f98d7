// A save killed at a random moment: the console saves a 1 MiB document in a
// child process and is killed with SIGKILL after a random delay, hundreds of
// times. Whatever the moment, the document must hash to exactly the old or the
// new version, and a save the page was told about must be on disk.
//
// The replacement-folder route (a folder that takes no new names) writes the
// document in place, which a kill can cut off; there the whole new text must
// then be in the route's private copy, which the next launch keeps in Backups.
//
// The seed is printed; QUILLMARSH_CRASH_SEED replays a run and
// QUILLMARSH_CRASH_KILLS sets the kills per route (scripts/crash.sh).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include <nlohmann/json.hpp>

#include "core/DocumentRead.hpp"
#include "tests/support/ConsoleProcess.hpp"
#include "tests/support/KillRuns.hpp"
#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int standardKills = 200;
constexpr std::size_t documentBytes = 1 << 20;
// Bounds one console run; a healthy one takes a fraction of a second.
constexpr auto runLimit = std::chrono::seconds(30);

std::string randomText(std::mt19937_64& random, std::size_t size) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n0123456789.,#*-";
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; i += 8) {
        auto bits = random();
        for (std::size_t j = i; j < std::min(size, i + 8); ++j, bits >>= 8) text[j] = letters[(bits & 0xFF) % 66];
    }
    return text;
}

struct Outcome {
    bool acknowledged = false;  // the save's 200 answer reached us
    bool exitedOnItsOwn = false;
    std::string failure;        // a refusal or a broken run
    Clock::duration toAnswer{};  // from the token to the save's answer
};

// Runs the console, opens the folder, saves `text` over the document and kills
// the console `delay` after its first line (the token) arrived; nothing is
// killed when delay is absent. Reads everything it printed before it died.
Outcome saveAndKill(const std::string& home, const std::string& folder, const std::string& text,
                    const std::string& base, std::optional<Clock::duration> delay, bool viaReplacementFolder) {
    ConsoleChild child;
    try {
        // Documents written a page at a time: a kill can land inside the write.
        std::vector<std::pair<std::string, std::string>> environment = {{"QUILLMARSH_CONSOLE_WRITE_CHUNK", "4096"}};
        if (viaReplacementFolder) environment.emplace_back("QUILLMARSH_CONSOLE_NO_NEW_NAMES", "1");
        child = startConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home, environment);
    } catch (const std::exception&) {
        return {false, false, "pipe", {}};
    }
    pid_t pid = child.pid;
    int writeEnd = child.input;
    int readEnd = child.output;
    fcntl(writeEnd, F_SETFL, O_NONBLOCK);

    Outcome outcome;
    std::string pending;  // input not yet taken by the console
    std::string received;
    bool tokenSeen = false;
    bool killed = false;
    Clock::time_point tokenAt;
    auto deadline = Clock::now() + runLimit;

    auto takeLine = [&](const std::string& lineText) {
        auto line = nlohmann::json::parse(lineText, nullptr, false);
        if (!line.is_object()) return;
        if (!tokenSeen && line.contains("token")) {
            tokenSeen = true;
            tokenAt = Clock::now();
            std::string token = line["token"];
            nlohmann::json headers = {{"X-Quillmarsh-Token", token}};
            pending = nlohmann::json{{"panel", {{"chosen", true}, {"urls", {folder}}}}}.dump() + "\n" +
                      nlohmann::json{{"id", 1},
                                     {"url", "lornwick://app/api/choose-folder"},
                                     {"method", "POST"},
                                     {"headers", headers}}
                          .dump() +
                      "\n{\"wait\": true}\n";
            headers["X-Quillmarsh-Bytes"] = std::to_string(text.size());
            headers["X-Quillmarsh-Base-Version"] = base;
            pending += nlohmann::json{{"id", 2},
                                      {"url", "lornwick://app/api/file?path=doc.md"},
                                      {"method", "PUT"},
                                      {"headers", headers},
                                      {"body", text}}
                           .dump() +
                       "\n";
            return;
        }
        if (line.value("id", 0) != 2 || !line.contains("status")) return;
        if (line["status"] == 200) {
            outcome.acknowledged = true;
            outcome.toAnswer = Clock::now() - tokenAt;
        } else {
            outcome.failure = "save answered " + line.dump();
        }
    };

    for (bool open = true; open;) {
        auto now = Clock::now();
        if (now > deadline) {
            outcome.failure = "the console took too long";
            kill(pid, SIGKILL);
            killed = true;
        }
        if (!killed && tokenSeen && delay && now - tokenAt >= *delay) {
            kill(pid, SIGKILL);
            killed = true;
        }
        // Once the save is answered the input can end, and the console with it.
        if (!killed && outcome.acknowledged && writeEnd >= 0 && pending.empty()) {
            close(writeEnd);
            writeEnd = -1;
        }
        int wait = 50;
        if (!killed && tokenSeen && delay) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*delay - (now - tokenAt)).count();
            wait = static_cast<int>(std::clamp<long long>(left, 0, 50));
        }
        pollfd fds[2] = {{readEnd, POLLIN, 0}, {pending.empty() || killed ? -1 : writeEnd, POLLOUT, 0}};
        if (poll(fds, 2, wait) < 0) continue;
        if (fds[1].fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t wrote = write(writeEnd, pending.data(), pending.size());
            if (wrote > 0) pending.erase(0, static_cast<std::size_t>(wrote));
            else if (wrote < 0 && errno != EAGAIN) pending.clear();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t got = read(readEnd, buffer, sizeof buffer);
            if (got <= 0) {
                open = false;  // the console is gone and everything it printed is read
            } else {
                received.append(buffer, static_cast<std::size_t>(got));
                for (std::size_t end; (end = received.find('\n')) != std::string::npos;) {
                    takeLine(received.substr(0, end));
                    received.erase(0, end + 1);
                }
            }
        }
    }
    if (writeEnd >= 0) close(writeEnd);
    close(readEnd);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitedOnItsOwn = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!killed && !outcome.exitedOnItsOwn && outcome.failure.empty()) outcome.failure = "the console failed";
    return outcome;
}

std::string versionOnDisk(const std::string& path) { return Files::version(TempDir::read(path)); }

// Versions of the whole copies the replacement route left in its private folder.
std::vector<std::string> privateCopies(const TempDir& home) {
    std::vector<std::string> versions;
    if (!fs::exists(home / "cache/Quillmarsh")) return versions;
    for (const auto& folder : fs::directory_iterator(home / "cache/Quillmarsh")) {
        if (fs::exists(folder.path() / "doc.md")) versions.push_back(versionOnDisk(folder.path() / "doc.md"));
    }
    return versions;
}

// What a killed save may leave: its hidden temporary file, its private copy
// and the backups. Cleared between runs so that hundreds of runs stay small.
void clearLeftovers(const TempDir& home) {
    for (const auto& entry : fs::directory_iterator(home / "docs")) {
        if (entry.path().filename() != "doc.md") fs::remove(entry.path());
    }
    fs::remove_all(home / "data/Quillmarsh/Backups");
    fs::remove_all(home / "cache/Quillmarsh");
}

struct Route {
    const char* name;
    bool viaReplacementFolder;
    int kills;
};

void PrintTo(const Route& route, std::ostream* out) { *out << route.name; }

class Crash : public testing::TestWithParam<Route> {};

TEST_P(Crash, AKilledSaveLeavesTheOldOrTheNewVersionAndKeepsWhatItAcknowledged) {
    const Route& route = GetParam();
    const unsigned long long seed = killSeed();
    const int kills = killCount(route.kills);
    std::cout << route.name << " seed " << seed << " (QUILLMARSH_CRASH_SEED replays it)\n";
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    // A console killed while it reads its input must not take the test with it.
    signal(SIGPIPE, SIG_IGN);
    TempDir home;
    std::string folder = home / "docs";
    std::string doc = home.write("docs/doc.md", randomText(random, documentBytes));

    // A few whole runs tell how long a save takes on this machine, so that the
    // kills spread over all of it, before, during and after the save.
    std::vector<Clock::duration> times;
    for (int i = 0; i < 3; ++i) {
        std::string text = randomText(random, documentBytes);
        auto outcome = saveAndKill(home.path(), folder, text, versionOnDisk(doc), std::nullopt,
                                   route.viaReplacementFolder);
        ASSERT_TRUE(outcome.acknowledged) << outcome.failure;
        ASSERT_TRUE(outcome.exitedOnItsOwn);
        ASSERT_EQ(versionOnDisk(doc), Files::version(text));
        times.push_back(outcome.toAnswer);
    }
    // The longest, and a little more: a loaded machine varies, and the kills
    // must reach every moment of the save, up to and past its answer.
    auto longest = *std::max_element(times.begin(), times.end());
    auto span = std::chrono::duration_cast<std::chrono::microseconds>(longest).count() * 5 / 4;

    int keptOld = 0;
    int newUnanswered = 0;
    int answered = 0;
    int cutOff = 0;
    for (int run = 0; run < kills; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        std::string before = versionOnDisk(doc);
        std::string text = randomText(random, documentBytes);
        std::string after = Files::version(text);
        auto delay = std::chrono::microseconds(std::uniform_int_distribution<long long>(0, span)(random));

        auto outcome = saveAndKill(home.path(), folder, text, before, delay, route.viaReplacementFolder);
        ASSERT_EQ(outcome.failure, "");
        std::string now = versionOnDisk(doc);
        if (outcome.acknowledged) {
            ASSERT_EQ(now, after) << "an acknowledged save is not on disk";
        }
        if (now != before && now != after) {
            ASSERT_TRUE(route.viaReplacementFolder) << "the document is neither the old nor the new version";
            auto copies = privateCopies(home);
            ASSERT_NE(std::find(copies.begin(), copies.end(), after), copies.end())
                << "the document is cut off and the new text is nowhere";
            ++cutOff;
        } else {
            (now == before ? keptOld : outcome.acknowledged ? answered : newUnanswered)++;
        }
        clearLeftovers(home);
    }
    // Where the kills landed, for whoever reads the log.
    RecordProperty("keptOld", keptOld);
    RecordProperty("newUnanswered", newUnanswered);
    RecordProperty("answered", answered);
    RecordProperty("cutOff", cutOff);
    std::cout << route.name << " kills: " << kills << ": " << keptOld << " left the old version, " << newUnanswered
              << " the new one before its answer, " << answered << " after it, " << cutOff
              << " a cut-off document with the whole new text kept aside\n";
}

INSTANTIATE_TEST_SUITE_P(Routes, Crash,
                         testing::Values(Route{"sameFolder", false, standardKills}, Route{"replacementFolder", true, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
