#pragma once
// The main queue on the GLib main context: jobs run on the GTK main thread,
// strictly in the order they were posted, from whichever thread posted them.
#include <deque>
#include <mutex>
#include <thread>

#include "core/Dispatch.hpp"

class GlibMainQueue final : public MainQueue {
public:
    // The thread that constructs it is the main thread.
    GlibMainQueue();
    void post(Job job) override;
    bool isCurrent() const override;

private:
    static int drain(void* self) noexcept;

    std::thread::id owner_;
    std::mutex mutex_;
    std::deque<Job> jobs_;
    bool scheduled_ = false;
};
