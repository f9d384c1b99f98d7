#include "app/shell/GlibMainQueue.hpp"

#include <glib.h>

#include "app/shell/GuardedCallback.hpp"

GlibMainQueue::GlibMainQueue() : owner_(std::this_thread::get_id()) {}

void GlibMainQueue::post(Job job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    // One idle source drains the whole queue: separate sources of equal
    // priority carry no promise about their order, and answers must reach the
    // page in the order they were given (an answer before the quit it announces).
    if (!scheduled_) {
        scheduled_ = true;
        g_idle_add_full(G_PRIORITY_DEFAULT, &GlibMainQueue::drain, this, nullptr);
    }
}

bool GlibMainQueue::isCurrent() const { return std::this_thread::get_id() == owner_; }

int GlibMainQueue::drain(void* self) noexcept {
    return guarded(G_SOURCE_REMOVE, [self] {
        auto& queue = *static_cast<GlibMainQueue*>(self);
        std::deque<Job> due;
        {
            std::lock_guard lock(queue.mutex_);
            due.swap(queue.jobs_);
            queue.scheduled_ = false;
        }
        // Each job is guarded on its own: one that fails must not take the
        // answers queued behind it down with it.
        for (auto& job : due) guarded(job);
        return G_SOURCE_REMOVE;
    });
}
