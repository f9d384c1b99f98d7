#include "core/Dispatch.hpp"

#include <cstdio>
#include <cstdlib>
#include <future>

namespace {
thread_local const Queue* currentQueue = nullptr;
}

void WorkItem::cancel() {
    Job dropped;
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    dropped.swap(job_);
    // `dropped` goes after the lock is released: what it holds may own this very item.
}

bool WorkItem::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void WorkItem::perform() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        job.swap(job_);
    }
    // Outside the lock, so the job may cancel its own item.
    if (job) job();
}

Queue::Queue(std::string label, size_t maxThreads)
    : label_(std::move(label)), maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

Queue::~Queue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Delayed work belongs to an owner that is going away; jobs already
        // due still run, so nothing submitted is silently lost.
        delayed_.clear();
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void Queue::spawnLocked() {
    threads_.emplace_back([this] { workerLoop(); });
}

void Queue::async(Job job) {
    std::unique_lock lock(mutex_);
    ready_.push_back(std::move(job));
    if (idle_ > 0) {
        lock.unlock();
        wake_.notify_one();
    } else if (threads_.size() < maxThreads_) {
        spawnLocked();
    }
}

void Queue::asyncAfter(Clock::duration delay, std::shared_ptr<WorkItem> item) {
    std::unique_lock lock(mutex_);
    delayed_.emplace(Clock::now() + delay, [item] { item->perform(); });
    if (threads_.empty()) spawnLocked();
    lock.unlock();
    // A sleeping worker must recompute its deadline.
    wake_.notify_all();
}

std::shared_ptr<WorkItem> Queue::asyncAfter(Clock::duration delay, Job job) {
    auto item = std::make_shared<WorkItem>(std::move(job));
    asyncAfter(delay, item);
    return item;
}

void Queue::sync(Job job) {
    std::promise<void> done;
    auto future = done.get_future();
    async([&] {
        try {
            job();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    future.get();
}

bool Queue::isCurrent() const { return currentQueue == this; }

void Queue::workerLoop() {
    currentQueue = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        auto now = Clock::now();
        while (!delayed_.empty() && delayed_.begin()->first <= now) {
            ready_.push_back(std::move(delayed_.begin()->second));
            delayed_.erase(delayed_.begin());
        }
        if (!ready_.empty()) {
            Job job = std::move(ready_.front());
            ready_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // release captures outside the lock
            lock.lock();
            continue;
        }
        if (stopping_) return;
        ++idle_;
        if (delayed_.empty()) {
            wake_.wait(lock);
        } else {
            // A copy: the wait reads its deadline again on waking, and the
            // destructor may have freed the entry by then.
            const Clock::time_point due = delayed_.begin()->first;
            wake_.wait_until(lock, due);
        }
        --idle_;
    }
}

KeyedSerialQueue::KeyedSerialQueue(std::string label, size_t maxThreads) : pool_(std::move(label), maxThreads) {}

KeyedSerialQueue::~KeyedSerialQueue() {
    // Sequences put their next job on the pool themselves: wait until none is
    // left, then the pool's own destructor joins its threads.
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty()) return;
        }
        pool_.sync([] {});
    }
}

void KeyedSerialQueue::async(const std::string& key, Job job) {
    {
        std::lock_guard lock(mutex_);
        auto [entry, made] = waiting_.try_emplace(key);
        entry->second.push_back(std::move(job));
        // A sequence already queued or running takes the job in its turn.
        if (!made) return;
    }
    pool_.async([this, key] { runNext(key); });
}

size_t KeyedSerialQueue::activeKeys() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

void KeyedSerialQueue::runNext(const std::string& key) {
    Job job;
    {
        std::lock_guard lock(mutex_);
        auto& jobs = waiting_.at(key);
        job = std::move(jobs.front());
        jobs.pop_front();
    }
    job();
    job = nullptr;  // what it holds goes before the next job of the key starts
    {
        std::lock_guard lock(mutex_);
        auto entry = waiting_.find(key);
        if (entry->second.empty()) {
            waiting_.erase(entry);
            return;
        }
    }
    // To the back of the pool: other keys get their turn between two jobs of this one.
    pool_.async([this, key] { runNext(key); });
}

#if !defined(NDEBUG) || defined(QUILLMARSH_THREAD_CHECKS)
void wrongThread(const char* where, const char* expected) {
    std::fprintf(stderr, "%s ran off its queue (%s)\n", where, expected);
    std::abort();
}
#endif

RunLoopMainQueue::RunLoopMainQueue() : owner_(std::this_thread::get_id()) {}

void RunLoopMainQueue::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
}

bool RunLoopMainQueue::isCurrent() const { return std::this_thread::get_id() == owner_; }

size_t RunLoopMainQueue::runOnce(Clock::duration timeout) {
    std::deque<Job> batch;
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, timeout, [this] { return !jobs_.empty(); });
        batch.swap(jobs_);
    }
    for (auto& job : batch) job();
    return batch.size();
}

bool RunLoopMainQueue::runUntil(const std::function<bool()>& done, Clock::duration timeout) {
    auto deadline = Clock::now() + timeout;
    while (!done()) {
        auto now = Clock::now();
        if (now >= deadline) return done();
        runOnce(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50)));
    }
    return true;
}
