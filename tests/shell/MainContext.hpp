#pragma once
// Pumping the default GLib main context in a test, with a bound.
#include <glib.h>

#include <functional>

// Iterates the default main context until `done` holds; false after 10 s.
inline bool runUntil(const std::function<bool()>& done) {
    gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}
