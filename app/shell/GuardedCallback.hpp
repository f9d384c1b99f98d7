#pragma once
// C libraries (GLib, GTK, WebKit, and libcurl) call back into this program
// through plain function pointers. An exception that unwinds into their frames
// is undefined behaviour: at best the process ends, at worst a library is left
// half way through changing its own state. So every function handed to C is
// noexcept and runs its body through guarded(), which stops any exception at
// the border, has it counted and reported, and gives the C caller the
// fail-safe answer the call site names (FALSE, G_SOURCE_REMOVE, nullptr, ...).
//
// Nothing here depends on GTK: the fail-safe values come from the caller, and
// the web-process extension shares this header with the program.
#include <atomic>
#include <type_traits>
#include <utility>

namespace CallbackGuard {

// Failed callbacks in this process so far.
inline std::atomic<long long> failureCount{0};

// Tells the user's diagnostics that a callback failed, by count only: the
// exception's text may name a file, and the log promises it names none. Each
// binary defines it once (GuardedCallback.cpp for the program, which writes
// to appLog()); it never throws.
void report(long long failures) noexcept;

inline long long failures() noexcept { return failureCount.load(); }
inline void failed() noexcept { report(++failureCount); }

}  // namespace CallbackGuard

// Runs `body` and returns what it returns; when it throws, returns `failSafe`.
template <typename Result, typename Body>
Result guarded(Result failSafe, Body&& body) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<Result>, "handing back the fail-safe answer must not throw");
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        CallbackGuard::failed();
        return failSafe;
    }
}

// For callbacks that answer nothing; true when `body` ran to its end.
template <typename Body>
bool guarded(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        CallbackGuard::failed();
        return false;
    }
}
