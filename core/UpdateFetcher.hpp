#pragma once
// One strict fetch of the update feed, turned into exactly one UpdateResult.
// HTTPS only, no redirects, no cookies, no stored credentials, no cache, a
// hard time limit and a hard size limit (on the announced length and again on
// the bytes that arrive). Every way of failing ends in one short reason for
// the user.
//
// The fetch blocks the thread it runs on: the caller gives it a queue of its
// own, never io or the main thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "core/UpdateCheck.hpp"

class UpdateFetcher final {
public:
    // Where and how long; the desktop program always uses the defaults. The
    // console and the tests point it at a local server with its own authority.
    struct Options {
        std::string feed{UpdateCheck::feed};
        // A file of trusted authorities instead of the system's; empty: the system's.
        std::string caFile;
        std::chrono::milliseconds timeout = UpdateCheck::timeout;
    };

    using Completion = std::function<void(UpdateResult)>;

    // `online` is asked only after a transfer failed (any thread). `stop`, when
    // set, ends the fetch within about a second (the program is quitting); it
    // must outlive every fetch.
    UpdateFetcher(Options options, std::string userAgent, std::function<bool()> online,
                  const std::atomic<bool>& stop);

    // Fetches once, on the calling thread, and calls `completion` exactly
    // once with the result before returning (also when stopped). Never throws.
    void check(const std::string& current, const Completion& completion) noexcept;

    static constexpr std::string_view elsewhere = "the update server sent the app elsewhere";
    static constexpr std::string_view tooBig = "the update file is too big";
    static constexpr std::string_view answered = "the update server answered ";
    static constexpr std::string_view tooSlow = "the update server did not answer in time";
    static constexpr std::string_view offline = "this computer is offline";
    static constexpr std::string_view unreachable = "the update server could not be reached";
    static constexpr std::string_view unreadable = "the update file could not be read";

private:
    UpdateResult fetch(const std::string& current);

    const Options options_;
    const std::string userAgent_;
    const std::function<bool()> online_;
    const std::atomic<bool>& stop_;
};
