#pragma once
// The system's own view of its network connection (GIO's network monitor),
// kept where any thread may read it: the update fetcher asks from its own
// queue, while the monitor reports changes on the main thread.
#include <gio/gio.h>

#include <atomic>

#include "app/bridge/Platform.hpp"

class GioNetwork final : public Network {
public:
    // Main thread: the monitor's changes arrive on the context current here.
    GioNetwork();
    ~GioNetwork() override;
    GioNetwork(const GioNetwork&) = delete;
    GioNetwork& operator=(const GioNetwork&) = delete;

    bool online() override { return online_.load(); }

private:
    static void changed(GNetworkMonitor* monitor, gboolean available, gpointer self) noexcept;

    GNetworkMonitor* monitor_ = nullptr;  // the process's default monitor, not owned
    gulong handler_ = 0;
    // Online until the monitor says otherwise: without one, checks still run.
    std::atomic<bool> online_{true};
};
