// The guard every function handed to C runs through: an exception stops at
// the border, the C caller gets the fail-safe answer, and the failure is
// counted in the log without its text (which may hold a path).
#include "app/shell/GuardedCallback.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include "tests/shell/MainContext.hpp"

#include <functional>
#include <stdexcept>
#include <string>

#include "tests/support/LogCapture.hpp"

namespace {

std::string failureLine(long long count) { return "shell: a callback failed (" + std::to_string(count) + " so far)"; }

struct GuardCase {
    const char* name;
    std::function<int()> body;
    int expected;
    bool fails;
};

class GuardedCallbackCases : public testing::TestWithParam<GuardCase> {};

TEST_P(GuardedCallbackCases, AnswersAndCounts) {
    const GuardCase& c = GetParam();
    LogCapture log;
    long long before = CallbackGuard::failures();
    EXPECT_EQ(guarded(-1, c.body), c.expected);
    EXPECT_EQ(CallbackGuard::failures(), before + (c.fails ? 1 : 0));
    auto messages = log.messages();
    if (c.fails) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], failureLine(before + 1));
    } else {
        EXPECT_TRUE(messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    GuardedCallback, GuardedCallbackCases,
    testing::Values(GuardCase{"ReturnsWhatTheBodyReturns", [] { return 7; }, 7, false},
                    GuardCase{"StandardException", []() -> int { throw std::runtime_error("/home/ann/secret.md"); }, -1,
                              true},
                    GuardCase{"AnyThrownValue", []() -> int { throw 42; }, -1, true},
                    GuardCase{"AllocationFailure", []() -> int { throw std::bad_alloc(); }, -1, true}),
    [](const testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

TEST(GuardedCallback, TheLogKeepsNoTextOfTheException) {
    LogCapture log;
    guarded([] { throw std::runtime_error("/home/ann/secret.md"); });
    for (const auto& line : log.messages()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST(GuardedCallback, WithoutAnAnswerItTellsWhetherTheBodyFinished) {
    LogCapture log;
    int ran = 0;
    EXPECT_TRUE(guarded([&] { ++ran; }));
    EXPECT_FALSE(guarded([&] {
        ++ran;
        throw std::logic_error("no");
    }));
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(log.messages().size(), 1u);
}

struct IdleState {
    int runs = 0;
    bool destroyed = false;
};

// Asks to run again unless it throws: only the fail-safe answer removes it.
gboolean throwOnFirstRun(gpointer data) noexcept {
    return guarded(G_SOURCE_REMOVE, [data] {
        auto& state = *static_cast<IdleState*>(data);
        if (state.runs++ == 0) throw std::runtime_error("first run fails");
        return G_SOURCE_CONTINUE;
    });
}

TEST(GuardedCallback, AThrowingIdleCallbackLeavesTheMainLoopRunningAndRemovesItsSource) {
    LogCapture log;
    long long before = CallbackGuard::failures();
    IdleState state;
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, throwOnFirstRun, &state,
                    [](gpointer data) { static_cast<IdleState*>(data)->destroyed = true; });
    ASSERT_TRUE(runUntil([&] { return state.destroyed; }));
    EXPECT_EQ(state.runs, 1);
    EXPECT_EQ(CallbackGuard::failures(), before + 1);
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(log.messages().back(), failureLine(before + 1));

    // The loop still runs what comes after.
    bool later = false;
    g_idle_add(+[](gpointer flag) noexcept -> gboolean {
        return guarded(G_SOURCE_REMOVE, [flag] {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        });
    }, &later);
    EXPECT_TRUE(runUntil([&] { return later; }));
}

}  // namespace
