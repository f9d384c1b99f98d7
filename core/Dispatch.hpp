#pragma once
// Work queues. Everything that runs off the main thread runs on one of these:
// serial queues run one job at a time in the order given, concurrent queues run
// as many as they have threads. Jobs can be delayed and cancelled (the folder
// watcher's debounce needs both). No other code in the program starts threads.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

using Job = std::function<void()>;
using Clock = std::chrono::steady_clock;

// The platform's main thread as a queue: the GLib main context in the program,
// a loop that a test or the console pumps elsewhere.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(Job job) = 0;
    // Whether the caller is running on the main thread.
    virtual bool isCurrent() const = 0;
};

// A job that can be cancelled until it starts.
class WorkItem {
public:
    explicit WorkItem(Job job) : job_(std::move(job)) {}
    // Lets go of the job at once, and of everything it holds: a cancelled item
    // may wait in a queue until its time, long after its owner moved on.
    void cancel();
    bool isCancelled() const;
    // Runs the job unless it was cancelled first; an item runs at most once.
    void perform();

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    Job job_;
};

class Queue {
public:
    Queue(std::string label, size_t maxThreads);
    virtual ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    const std::string& label() const { return label_; }
    void async(Job job);
    void asyncAfter(Clock::duration delay, std::shared_ptr<WorkItem> item);
    std::shared_ptr<WorkItem> asyncAfter(Clock::duration delay, Job job);
    // Runs the job on the queue and waits for it. Never call it from the queue itself.
    void sync(Job job);
    // Whether the caller is a job of this queue.
    bool isCurrent() const;

private:
    void spawnLocked();
    void workerLoop();

    const std::string label_;
    const size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> ready_;
    std::multimap<Clock::time_point, Job> delayed_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

// One job at a time, strictly in the order submitted.
class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label) : Queue(std::move(label), 1) {}
};

// Jobs run side by side; threads are started as work arrives, up to a bound,
// since their jobs mostly wait on the disk rather than the processor.
class ConcurrentQueue final : public Queue {
public:
    explicit ConcurrentQueue(std::string label, size_t maxThreads = 16)
        : Queue(std::move(label), maxThreads) {}
};

// Jobs in sequences: jobs given under one key run one at a time in the order
// given, jobs of different keys run side by side, all on one pool of at most
// `maxThreads` threads. A key costs nothing once its jobs have run, so a
// program that saves thousands of documents keeps a handful of threads, not
// one per document. A sequence gives its thread back after each job, so one
// busy key cannot hold the pool while others wait.
class KeyedSerialQueue {
public:
    KeyedSerialQueue(std::string label, size_t maxThreads);
    // Waits for every job given so far.
    ~KeyedSerialQueue();
    KeyedSerialQueue(const KeyedSerialQueue&) = delete;
    KeyedSerialQueue& operator=(const KeyedSerialQueue&) = delete;

    void async(const std::string& key, Job job);
    // Whether the caller is a job of this queue.
    bool isCurrent() const { return pool_.isCurrent(); }
    // Keys with jobs waiting or running.
    size_t activeKeys() const;

private:
    void runNext(const std::string& key);

    mutable std::mutex mutex_;
    // Jobs not yet started, per key; a key is here while its sequence is
    // queued or running, and leaves when it has nothing more to run.
    std::unordered_map<std::string, std::deque<Job>> waiting_;
    // Last: its threads are joined before the map they use goes.
    ConcurrentQueue pool_;
};

// Where a reply can be sent: a queue or the main thread.
inline void postTo(Queue& queue, Job job) { queue.async(std::move(job)); }
inline void postTo(MainQueue& queue, Job job) { queue.post(std::move(job)); }

// Runs `task` on `from`, then `reply` with its result on `to`: the hop from a
// worker back to where the state lives, written once. `to` must outlive the
// task; what the reply needs of its owner it must guard itself.
template <typename From, typename To, typename Task, typename Reply>
void postAndReply(From& from, Task task, To& to, Reply reply) {
    postTo(from, [task = std::move(task), &to, reply = std::move(reply)]() mutable {
        if constexpr (std::is_void_v<std::invoke_result_t<Task&>>) {
            task();
            postTo(to, std::move(reply));
        } else {
            postTo(to, [result = task(), reply = std::move(reply)]() mutable { reply(std::move(result)); });
        }
    });
}

// Code that must run on one queue says so: the check runs in debug builds and
// in the sanitizer build (which the test command runs) and stops the program
// with the place named; release builds skip it.
#if !defined(NDEBUG) || defined(QUILLMARSH_THREAD_CHECKS)
[[noreturn]] void wrongThread(const char* where, const char* expected);
#define QUILLMARSH_ONLY_ON(queue)                                                \
    do {                                                                         \
        if (!(queue).isCurrent()) wrongThread(__func__, #queue);                 \
    } while (false)
#else
#define QUILLMARSH_ONLY_ON(queue) \
    do {                          \
    } while (false)
#endif

// A main queue that is pumped by hand: the console's main loop and the tests'.
// The thread that constructs it is its main thread.
class RunLoopMainQueue final : public MainQueue {
public:
    RunLoopMainQueue();
    void post(Job job) override;
    bool isCurrent() const override;

    // Runs the jobs that are due; waits up to `timeout` for the first one.
    // Returns how many ran.
    size_t runOnce(Clock::duration timeout);
    // Pumps until `done` holds or the time is up; returns whether it holds.
    bool runUntil(const std::function<bool()>& done, Clock::duration timeout);

private:
    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
};
