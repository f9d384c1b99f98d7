// The quit decisions and their log lines, path by path.
#include "app/shell/QuitProtocol.hpp"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.hpp"

namespace {

using Lines = std::vector<std::string>;
using Next = QuitProtocol::Next;
using Decision = QuitProtocol::Decision;

TEST(QuitProtocol, ThePageClosesItsTabsThenTheProgramEnds) {
    LogCapture log;
    QuitProtocol quit;
    EXPECT_EQ(quit.shouldTerminate(), Decision::askPage);
    EXPECT_EQ(quit.pageAnswered("asked", false, true), Next::waitForPage);
    EXPECT_FALSE(quit.approved());
    quit.pageClosedTabs();
    EXPECT_EQ(quit.shouldTerminate(), Decision::terminateNow);
    EXPECT_EQ(log.messages(), (Lines{"quit: requested, asking the page", "quit: page answered asked",
                                     "quit: page closed its tabs", "quit: approved, terminating"}));
}

TEST(QuitProtocol, APageClosingItsTabsBeforeItsAnswerArrivesIsLoggedInOrder) {
    // The page posts /api/quit at once: the program ends before the quit
    // query's answer arrives, so that answer's line is written with the post.
    LogCapture log;
    QuitProtocol quit;
    EXPECT_EQ(quit.shouldTerminate(), Decision::askPage);
    quit.pageClosedTabs();
    EXPECT_EQ(quit.shouldTerminate(), Decision::terminateNow);
    const Lines expected{"quit: requested, asking the page", "quit: page answered asked",
                         "quit: page closed its tabs", "quit: approved, terminating"};
    EXPECT_EQ(log.messages(), expected);
    // Should the answer still arrive, it neither repeats the line nor stops the quit.
    EXPECT_EQ(quit.pageAnswered("asked", false, true), Next::waitForPage);
    EXPECT_TRUE(quit.approved());
    EXPECT_EQ(log.messages(), expected);
}

TEST(QuitProtocol, APageThatNeverAnswersLeavesTheProgramOpenAndAsksAgain) {
    LogCapture log;
    QuitProtocol quit;
    EXPECT_EQ(quit.shouldTerminate(), Decision::askPage);
    EXPECT_EQ(quit.pageAnswered("asked", false, true), Next::waitForPage);
    EXPECT_EQ(quit.shouldTerminate(), Decision::askPage);
    EXPECT_EQ(log.messages().back(), "quit: requested, asking the page");
}

TEST(QuitProtocol, NoPageEverLoadedEndsWithoutAnAlert) {
    LogCapture log;
    QuitProtocol quit;
    quit.shouldTerminate();
    EXPECT_EQ(quit.pageAnswered("no-page", false, false), Next::terminate);
    EXPECT_TRUE(quit.approved());
    EXPECT_EQ(quit.shouldTerminate(), Decision::terminateNow);
    EXPECT_EQ(log.messages(), (Lines{"quit: requested, asking the page", "quit: page answered no-page",
                                     "quit: approved, terminating"}));
}

struct AnswerCase {
    const char* name;
    std::optional<std::string> answer;
    bool failed;
    const char* line;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

const AnswerCase fallbackCases[] = {
    {"LoadedPageWithoutQuit", "no-page", false, "quit: page answered no-page"},
    {"ScriptFailed", std::nullopt, true, "quit: page answered nothing with an error"},
    {"NoText", std::nullopt, false, "quit: page answered nothing"},
    {"OtherText", "maybe", false, "quit: page answered nothing"},
};

class QuitFallback : public testing::TestWithParam<AnswerCase> {};

TEST_P(QuitFallback, TheUserDecides) {
    const AnswerCase& c = GetParam();
    LogCapture log;
    QuitProtocol quit;
    quit.shouldTerminate();
    EXPECT_EQ(quit.pageAnswered(c.answer, c.failed, true), Next::fallbackAlert);
    EXPECT_EQ(log.messages().back(), c.line);

    EXPECT_FALSE(quit.fallbackDismissed(false));
    EXPECT_EQ(log.messages().back(), "quit: fallback alert -> cancel");
    EXPECT_FALSE(quit.approved());
    EXPECT_EQ(quit.shouldTerminate(), Decision::askPage);

    quit.pageAnswered(c.answer, c.failed, true);
    EXPECT_TRUE(quit.fallbackDismissed(true));
    EXPECT_EQ(log.messages().back(), "quit: fallback alert -> quit anyway");
    EXPECT_EQ(quit.shouldTerminate(), Decision::terminateNow);
}

INSTANTIATE_TEST_SUITE_P(Answers, QuitFallback, testing::ValuesIn(fallbackCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QuitProtocol, AnApprovedStartFailureNeverAsks) {
    LogCapture log;
    QuitProtocol quit;
    quit.approve();
    EXPECT_EQ(quit.shouldTerminate(), Decision::terminateNow);
    EXPECT_EQ(log.messages(), (Lines{"quit: approved, terminating"}));
}

}  // namespace
