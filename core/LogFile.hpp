#pragma once
// A small plain-text diagnostics log. Its first line promises the reader that
// it holds no file names, paths or addresses; keeping that promise is every
// caller's duty (subjects, counts, sizes, codes and fixed words only). The log
// itself only flattens line breaks so one event stays one line.
//
// The file is bounded: a line that would take it past maxBytes first cuts it to
// the newest half, starting at a whole line. Nothing is buffered, and logging
// never fails the caller: every file error is ignored.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class LogFile {
public:
    using Time = std::chrono::system_clock::time_point;

    static constexpr std::string_view header = "Quillmarsh log, format 2: no file names, paths or addresses";
    static constexpr std::int64_t defaultMax = 131072;

    // Touches no file.
    explicit LogFile(std::string path, std::int64_t maxBytes = defaultMax);
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    std::string path() const;
    std::int64_t maxBytes() const { return maxBytes_; }

    // Makes sure the file exists and begins with the header; a file in any
    // other form (an older format may hold names) is discarded whole. Runs once
    // at launch, before anything else is logged.
    void prepare();

    // Appends one line: the time in UTC to the second, a space, the message.
    void add(std::string_view message, Time at = std::chrono::system_clock::now());

    // The line add writes, "\n" included.
    static std::string line(std::string_view message, Time at);

    // Where the shared log lives: $XDG_STATE_HOME/Quillmarsh.log, by default
    // ~/.local/state/Quillmarsh.log; "" when the home folder is unknown, and
    // then nothing is logged.
    static std::string sharedPath();

    // Points the shared log at another file and returns the one it used, so a
    // test can read what the code under test logged and put it back afterwards.
    static std::string useSharedAt(std::string path);

private:
    // Each of these runs with lock_ held.
    void write(std::string_view text);    // append, or replace when it cannot be opened
    void replace(std::string_view text);  // the whole file, atomically, then 0600
    void trim();

    std::string path_;  // changed only by useSharedAt, under lock_
    const std::int64_t maxBytes_;
    mutable std::mutex lock_;
};

// The process-wide log, made on first use.
LogFile& appLog();
