// The main queue on the GLib main context: jobs from any thread run on the
// main thread, in the order they were posted (an answer to the page must not
// overtake the quit that follows it).
#include "app/shell/GlibMainQueue.hpp"

#include "app/shell/GuardedCallback.hpp"
#include "tests/support/LogCapture.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include "tests/shell/MainContext.hpp"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(GlibMainQueue, JobsRunOnTheMainThreadInTheOrderPosted) {
    GlibMainQueue main;
    EXPECT_TRUE(main.isCurrent());
    std::vector<int> order;
    std::atomic<bool> offMain{false};
    std::thread poster([&] {
        offMain = !main.isCurrent();
        for (int i = 0; i < 500; ++i) {
            main.post([&order, &main, i] {
                EXPECT_TRUE(main.isCurrent());
                order.push_back(i);
                // A job posted by a job runs after everything posted before it.
                if (i == 10) main.post([&order] { order.push_back(1000); });
            });
        }
    });
    poster.join();
    ASSERT_TRUE(runUntil([&] { return order.size() == 501; }));
    EXPECT_TRUE(offMain);
    std::vector<int> expected;
    for (int i = 0; i < 500; ++i) expected.push_back(i);
    expected.push_back(1000);
    EXPECT_EQ(order, expected);
}

TEST(GlibMainQueue, AJobThatThrowsDoesNotStopTheJobsAfterIt) {
    LogCapture log;
    GlibMainQueue main;
    long long before = CallbackGuard::failures();
    std::vector<int> order;
    main.post([&order] { order.push_back(1); });
    main.post([] { throw std::runtime_error("a job failed"); });
    main.post([&order] { order.push_back(3); });
    ASSERT_TRUE(runUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_EQ(CallbackGuard::failures(), before + 1);
    // The queue still takes new work.
    main.post([&order] { order.push_back(4); });
    ASSERT_TRUE(runUntil([&] { return order.size() == 3; }));
}

}  // namespace
