// Recovery copies kept while the program is killed: a console keeps a 1 MiB
// text under one id again and again, each time a different one, and is
// killed with SIGKILL at a random moment, over a hundred times. Whatever the
// moment, the entry must be one whole text that was sent (never empty, never
// cut off, never an older text than one whose keep was answered), and once
// any keep was answered the entry must exist.
//
// The seed is printed; QUILLMARSH_RECOVERY_CRASH_SEED (or QUILLMARSH_CRASH_SEED)
// replays a run and QUILLMARSH_CRASH_KILLS sets the number of kills.
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
#include <map>
#include <random>

#include <nlohmann/json.hpp>

#include "core/DocumentRead.hpp"
#include "tests/support/ConsoleProcess.hpp"
#include "tests/support/KillRuns.hpp"
#include "tests/support/TempDir.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int standardKills = 110;
constexpr std::size_t textBytes = 1 << 20;
constexpr const char* entryId = "crash-entry";
// Bounds one console run; a healthy one takes a fraction of a second.
constexpr auto runLimit = std::chrono::seconds(30);

std::string randomText(std::mt19937_64& random, std::size_t size) {
    // Quotes, backslashes, line breaks and a two-byte letter: the entry's
    // JSON escapes and the UTF-8 must both survive whole.
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n\"\\\t0123456789.,#*-";
    constexpr std::size_t letterCount = sizeof letters - 1;
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; i += 8) {
        auto bits = random();
        for (std::size_t j = i; j < std::min(size, i + 8); ++j, bits >>= 8) text[j] = letters[(bits & 0xFF) % letterCount];
    }
    text.replace(0, 2, "\xC3\xA9");
    return text;
}

// Every text sent, by version, with the order it was sent in.
using Sent = std::map<std::string, long long>;

struct Outcome {
    long long lastAnswered = -1;  // the order number of the last keep answered
    int keepsAnswered = 0;
    bool killed = false;
    std::string failure;
    Clock::duration firstAnswer{};  // from the token to the first keep's answer
};

// Runs the console and keeps texts under the id, one after another, each
// sent once the previous one is answered, until `keeps` were answered or the
// console is killed `delay` after its first line (the token).
Outcome keepAndKill(const std::string& home, std::mt19937_64& random, Sent& sent, long long& order, int keeps,
                    std::optional<Clock::duration> delay) {
    ConsoleChild child;
    try {
        child = startConsole(QUILLMARSH_CONSOLE, QUILLMARSH_EDITOR_DIR, home);
    } catch (const std::exception&) {
        return {-1, 0, false, "pipe", {}};
    }
    fcntl(child.input, F_SETFL, O_NONBLOCK);

    Outcome outcome;
    std::string token;
    std::string pending;  // input not yet taken by the console
    std::string received;
    long long awaiting = -1;  // the order number of the keep under way
    bool inputClosed = false;
    Clock::time_point tokenAt;
    const auto deadline = Clock::now() + runLimit;

    auto sendKeep = [&] {
        std::string text = randomText(random, textBytes);
        awaiting = order++;
        sent[Files::version(text)] = awaiting;
        nlohmann::json body = {{"id", entryId}, {"text", text}, {"name", "doc.md"}, {"base", ""}};
        pending += nlohmann::json{{"id", awaiting},
                                  {"url", "lornwick://app/api/recovery"},
                                  {"method", "POST"},
                                  {"headers", {{"X-Quillmarsh-Token", token}}},
                                  {"body", body.dump()}}
                       .dump() +
                   "\n";
    };
    auto takeLine = [&](const std::string& lineText) {
        auto line = nlohmann::json::parse(lineText, nullptr, false);
        if (!line.is_object()) return;
        if (token.empty() && line.contains("token")) {
            token = line["token"];
            tokenAt = Clock::now();
            sendKeep();
            return;
        }
        if (!line.contains("status") || line.value("id", -1LL) != awaiting) return;
        if (line["status"] != 200) {
            outcome.failure = "keep answered " + line.dump().substr(0, 300);
            return;
        }
        if (outcome.keepsAnswered++ == 0) outcome.firstAnswer = Clock::now() - tokenAt;
        outcome.lastAnswered = awaiting;
        if (outcome.keepsAnswered < keeps) sendKeep();
    };

    for (bool open = true; open;) {
        auto now = Clock::now();
        if (!outcome.killed && (now > deadline || !outcome.failure.empty())) {
            if (outcome.failure.empty()) outcome.failure = "the console took too long";
            kill(child.pid, SIGKILL);
            outcome.killed = true;
        }
        if (!outcome.killed && !token.empty() && delay && now - tokenAt >= *delay) {
            kill(child.pid, SIGKILL);
            outcome.killed = true;
        }
        // Once every keep is answered the input can end, and the console with it.
        if (!outcome.killed && !inputClosed && outcome.keepsAnswered >= keeps && pending.empty()) {
            close(child.input);
            inputClosed = true;
        }
        int wait = 50;
        if (!outcome.killed && !token.empty() && delay) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*delay - (now - tokenAt)).count();
            wait = static_cast<int>(std::clamp<long long>(left, 0, 50));
        }
        pollfd fds[2] = {{child.output, POLLIN, 0},
                         {pending.empty() || outcome.killed || inputClosed ? -1 : child.input, POLLOUT, 0}};
        if (poll(fds, 2, wait) < 0) continue;
        if (fds[1].fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t wrote = write(child.input, pending.data(), pending.size());
            if (wrote > 0) pending.erase(0, static_cast<std::size_t>(wrote));
            else if (wrote < 0 && errno != EAGAIN) pending.clear();
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t got = read(child.output, buffer, sizeof buffer);
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
    if (!inputClosed) close(child.input);
    close(child.output);
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (!outcome.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0) && outcome.failure.empty()) {
        outcome.failure = "the console failed";
    }
    return outcome;
}

// The order number of the text the entry holds, or -1 when there is no
// entry; fails the test when the entry is not one whole text that was sent.
long long entryOrder(const std::string& entryFile, const Sent& sent) {
    if (!fs::exists(entryFile)) return -1;
    auto entry = nlohmann::json::parse(TempDir::read(entryFile), nullptr, false);
    EXPECT_TRUE(entry.is_object()) << "the entry is not a JSON object";
    if (!entry.is_object() || !entry["text"].is_string()) {
        ADD_FAILURE() << "the entry holds no text";
        return -2;
    }
    const auto& text = entry["text"].get_ref<const std::string&>();
    auto found = sent.find(Files::version(text));
    if (found == sent.end()) {
        ADD_FAILURE() << "the entry holds a text that was never sent (" << text.size() << " bytes)";
        return -2;
    }
    return found->second;
}

// What killed keeps may leave: their hidden temporary files, which the next
// launch's sweep takes once they are old. Removed between runs so that a
// hundred runs stay small; never anything but those.
int clearTemporaries(const std::string& folder) {
    int removed = 0;
    if (!fs::exists(folder)) return removed;
    for (const auto& file : fs::directory_iterator(folder)) {
        std::string name = file.path().filename();
        if (name == std::string(entryId) + ".json") continue;
        EXPECT_TRUE(name.starts_with(".quillmarsh-") && name.ends_with(".tmp")) << name;
        fs::remove(file.path());
        ++removed;
    }
    return removed;
}

TEST(RecoveryCrash, AKilledKeepLeavesOneWholeTextAndKeepsWhatItAnswered) {
    const unsigned long long seed = killSeed({"QUILLMARSH_RECOVERY_CRASH_SEED", "QUILLMARSH_CRASH_SEED"});
    const int kills = killCount(standardKills);
    std::cout << "seed " << seed << " (QUILLMARSH_RECOVERY_CRASH_SEED replays it)\n";
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    // A console killed while it reads its input must not take the test with it.
    signal(SIGPIPE, SIG_IGN);
    TempDir home;
    const std::string folder = home / "data/Quillmarsh/recovery";
    const std::string entryFile = folder + "/" + entryId + ".json";
    Sent sent;
    long long order = 0;

    // A few whole runs tell how long a first keep takes on this machine, so
    // that the kills spread over the start, the first keep and the ones after
    // it, which follow one another without a pause.
    Clock::duration longest{};
    for (int i = 0; i < 3; ++i) {
        auto outcome = keepAndKill(home.path(), random, sent, order, 1, std::nullopt);
        ASSERT_EQ(outcome.failure, "");
        ASSERT_EQ(outcome.keepsAnswered, 1);
        ASSERT_EQ(entryOrder(entryFile, sent), outcome.lastAnswered);
        longest = std::max(longest, outcome.firstAnswer);
    }
    fs::remove(entryFile);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(longest).count() * 2;

    bool everAnswered = false;
    long long lastAnswered = -1;
    int beforeAnyKeep = 0, atAnsweredText = 0, atLaterText = 0, temporariesLeft = 0;
    for (int run = 0; run < kills; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        auto delay = std::chrono::microseconds(std::uniform_int_distribution<long long>(0, span)(random));
        long long before = entryOrder(entryFile, sent);
        auto outcome = keepAndKill(home.path(), random, sent, order, 1000, delay);
        ASSERT_EQ(outcome.failure, "");
        ASSERT_TRUE(outcome.killed);
        if (outcome.keepsAnswered > 0) {
            everAnswered = true;
            lastAnswered = outcome.lastAnswered;
        }

        long long now = entryOrder(entryFile, sent);
        ASSERT_NE(now, -2);
        if (everAnswered) {
            ASSERT_GE(now, 0) << "a keep was answered and there is no entry";
        }
        // Keeps run one at a time in the order sent: the entry is the last
        // answered text or one sent after it, never an older one.
        ASSERT_GE(now, std::max(before, lastAnswered)) << "the entry went back to an older text";
        (now == before ? beforeAnyKeep : now == lastAnswered ? atAnsweredText : atLaterText)++;
        temporariesLeft += clearTemporaries(folder);
    }
    std::cout << "recovery kills: " << kills << " within " << span / 1000 << " ms of the start: " << beforeAnyKeep
              << " before the run's first keep replaced the entry, " << atAnsweredText
              << " at the last answered text, " << atLaterText << " at a text written but not yet answered; "
              << temporariesLeft
              << " temporary files of killed keeps left behind\n";
    EXPECT_TRUE(everAnswered);
}

}  // namespace
