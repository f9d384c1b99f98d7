#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <fstream>
#include <future>
#include <iterator>
#include <vector>

#include "core/Dispatch.hpp"

namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsOneJobAtATimeInOrder) {
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    {
        SerialQueue queue("test.serial");
        for (int i = 0; i < 200; ++i) {
            queue.async([&, i] {
                if (running.fetch_add(1) != 0) overlapped = true;
                seen.push_back(i);
                running.fetch_sub(1);
            });
        }
        queue.sync([] {});
    }
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(ConcurrentQueue, RunsJobsSideBySide) {
    ConcurrentQueue queue("test.concurrent", 4);
    std::promise<void> bothStarted;
    std::atomic<int> started{0};
    std::shared_future<void> gate = bothStarted.get_future().share();
    std::atomic<int> done{0};
    for (int i = 0; i < 2; ++i) {
        queue.async([&] {
            if (started.fetch_add(1) == 1) bothStarted.set_value();
            // Each job waits for the other: this only finishes if both run at once.
            EXPECT_EQ(gate.wait_for(10s), std::future_status::ready);
            done.fetch_add(1);
        });
    }
    queue.sync([] {});
    RunLoopMainQueue main;
    EXPECT_TRUE(main.runUntil([&] { return done.load() == 2; }, 20s));
}

TEST(Queue, DelayedWorkRunsLaterAndCanBeCancelled) {
    SerialQueue queue("test.delayed");
    RunLoopMainQueue main;
    std::atomic<bool> ran{false};
    std::atomic<bool> cancelledRan{false};
    auto start = Clock::now();
    auto cancelled = queue.asyncAfter(50ms, [&] { cancelledRan = true; });
    queue.asyncAfter(100ms, [&] { ran = true; });
    cancelled->cancel();
    ASSERT_TRUE(main.runUntil([&] { return ran.load(); }, 20s));
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_FALSE(cancelledRan);
}

TEST(Queue, ACancelledItemLetsGoOfWhatItsJobHoldsAtOnce) {
    SerialQueue queue("test.cancel-releases");
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> watched = held;
    auto item = queue.asyncAfter(1h, [held = std::move(held)] {});
    EXPECT_FALSE(watched.expired());
    item->cancel();
    EXPECT_TRUE(watched.expired());
}

TEST(Queue, KnowsWhetherTheCallerIsOneOfItsJobs) {
    SerialQueue queue("test.current");
    bool inside = false;
    queue.sync([&] { inside = queue.isCurrent(); });
    EXPECT_TRUE(inside);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(RunLoopMainQueue, RunsPostedJobsOnItsOwnThreadOnly) {
    RunLoopMainQueue main;
    SerialQueue worker("test.worker");
    bool onMain = false;
    bool workerSeesMain = true;
    worker.sync([&] {
        workerSeesMain = main.isCurrent();
        main.post([&] { onMain = main.isCurrent(); });
    });
    EXPECT_FALSE(workerSeesMain);
    EXPECT_EQ(main.runOnce(1s), 1u);
    EXPECT_TRUE(onMain);
}

TEST(Queue, DestructionFinishesJobsAlreadyQueued) {
    std::atomic<int> count{0};
    {
        SerialQueue queue("test.drain");
        for (int i = 0; i < 50; ++i) queue.async([&] { count.fetch_add(1); });
    }
    EXPECT_EQ(count.load(), 50);
}

// Whether thread `tid` of this process is asleep, by the state in its stat line.
bool isAsleep(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    auto name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] == 'S';
}

TEST(Queue, DestructionWhileAWorkerSleepsUntilDelayedWorkIsDue) {
    // The worker sleeps until the delayed job's time; the queue going away drops
    // that job under it. Several rounds, since "asleep" cannot tell the
    // condition variable from a moment's wait on a lock.
    for (int round = 0; round < 5; ++round) {
        std::atomic<bool> ran{false};
        std::atomic<pid_t> worker{0};
        {
            SerialQueue queue("test.delayed-dropped");
            queue.asyncAfter(1h, [&] { ran = true; });
            queue.sync([&] { worker = ::gettid(); });
            RunLoopMainQueue main;
            ASSERT_TRUE(main.runUntil([&] { return isAsleep(worker); }, 20s));
        }
        EXPECT_FALSE(ran);
    }
}

TEST(KeyedSerialQueue, OneKeyRunsInOrderWhileOtherKeysRunBeside) {
    KeyedSerialQueue queue("test.keyed", 3);
    std::mutex mutex;
    std::map<std::string, std::vector<int>> seen;
    std::map<std::string, int> running;
    bool overlappedWithinAKey = false;
    // "slow" holds its first job until "fast" has run all of its own: only
    // possible if the two keys run side by side.
    std::promise<void> fastDone;
    std::shared_future<void> fastFinished = fastDone.get_future().share();
    std::atomic<int> fastLeft{50};
    for (int i = 0; i < 50; ++i) {
        for (std::string key : {"slow", "fast", "third"}) {
            queue.async(key, [&, key, i] {
                {
                    std::lock_guard lock(mutex);
                    if (running[key]++ != 0) overlappedWithinAKey = true;
                    seen[key].push_back(i);
                }
                if (key == "slow" && i == 0) {
                    EXPECT_EQ(fastFinished.wait_for(20s), std::future_status::ready);
                }
                if (key == "fast" && fastLeft.fetch_sub(1) == 1) fastDone.set_value();
                std::lock_guard lock(mutex);
                --running[key];
            });
        }
    }
    RunLoopMainQueue main;
    ASSERT_TRUE(main.runUntil([&] { return queue.activeKeys() == 0; }, 20s));
    EXPECT_FALSE(overlappedWithinAKey);
    for (const auto& key : {"slow", "fast", "third"}) {
        ASSERT_EQ(seen[key].size(), 50u) << key;
        for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[key][i], i) << key;
    }
}

// Threads of this process now.
std::size_t threadCount() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
}

TEST(KeyedSerialQueue, ThousandsOfKeysUseAtMostItsThreadsAndAreForgotten) {
    std::size_t before = threadCount();
    std::size_t most = 0;
    std::mutex mutex;
    {
        KeyedSerialQueue queue("test.keyed-bounded", 4);
        for (int i = 0; i < 2000; ++i) {
            queue.async("document-" + std::to_string(i), [&] {
                std::lock_guard lock(mutex);
                most = std::max(most, threadCount());
            });
        }
        RunLoopMainQueue main;
        ASSERT_TRUE(main.runUntil([&] { return queue.activeKeys() == 0; }, 20s));
    }
    EXPECT_LE(most, before + 4);
}

TEST(KeyedSerialQueue, DestructionRunsEveryJobGiven) {
    std::atomic<int> count{0};
    {
        KeyedSerialQueue queue("test.keyed-drain", 2);
        for (int i = 0; i < 100; ++i) queue.async(std::to_string(i % 7), [&] { count.fetch_add(1); });
    }
    EXPECT_EQ(count.load(), 100);
}

TEST(PostAndReply, TheReplyRunsWhereItIsSentWithTheResult) {
    SerialQueue worker("test.reply-worker");
    RunLoopMainQueue main;
    std::optional<int> got;
    bool taskOnWorker = false;
    bool replyOnMain = false;
    postAndReply(
        worker,
        [&] {
            taskOnWorker = worker.isCurrent();
            return 42;
        },
        main,
        [&](int result) {
            replyOnMain = main.isCurrent();
            got = result;
        });
    ASSERT_TRUE(main.runUntil([&] { return got.has_value(); }, 20s));
    EXPECT_EQ(*got, 42);
    EXPECT_TRUE(taskOnWorker);
    EXPECT_TRUE(replyOnMain);
}

#if !defined(NDEBUG) || defined(QUILLMARSH_THREAD_CHECKS)
TEST(OnlyOn, CodeRunOffItsQueueStopsTheProgram) {
    SerialQueue io("test.only-on");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto meantForIo = [&] { QUILLMARSH_ONLY_ON(io); };
    io.sync(meantForIo);  // where it belongs: nothing happens
    EXPECT_DEATH(meantForIo(), "ran off its queue");
}
#endif

}  // namespace
