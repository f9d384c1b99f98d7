#pragma once
// Watches the open folder's tree and calls back once a burst of changes that
// can matter to the page has settled. Linux gives no recursive watch, so every
// folder below the root gets an inotify watch of its own, except where changes
// never count: nothing inside "node_modules", a secret folder or another
// private place is ever watched (those trees are where the watch limit goes).
//
// Events are gathered for `latency` (0.3 s) before they are looked at, then
// filtered through `counts`; each delivery with a change that counts pushes
// the callback back, so it runs once, `delay` after the last such delivery.
//
// All of the watcher's work runs on its serial queue "quillmarsh.folder-watch";
// a second serial queue only waits on the inotify descriptor and hands what it
// reads over. Running out of watches or instances never breaks anything: the
// watcher keeps what it could watch and logs one line with counts.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Dispatch.hpp"

class FolderWatcher final {
public:
    // How the watcher waits. The program uses the queue's own delayed jobs; a
    // test drives time by hand, so the debounce is checked without guessing.
    class Timer {
    public:
        virtual ~Timer() = default;
        // Runs the item on `queue` once `delay` has passed, unless it is cancelled first.
        virtual void after(Queue& queue, Clock::duration delay, std::shared_ptr<WorkItem> item) = 0;
    };

    struct Options {
        // How long events are gathered before they are looked at.
        Clock::duration latency = std::chrono::milliseconds(300);
        // Null: the real clock.
        Timer* timer = nullptr;
    };

    // What the watcher holds right now; for tests and benchmarks.
    struct Snapshot {
        std::optional<std::string> root;
        // Every watched folder of the tree (the root included), sorted.
        std::vector<std::string> folders;
        // Folders that could not be watched because the system ran out of watches.
        std::size_t leftOut = 0;
        // inotify events read since the last watch began.
        std::uint64_t eventsRead = 0;
    };

    // The inotify calls, replaceable so that a test can run out of watches or
    // instances without touching the system's limits.
    struct Calls {
        std::function<int(int flags)> init;
        std::function<int(int fd, const char* path, std::uint32_t mask)> addWatch;
        static Calls real();
    };
    // The table in use by the whole process; replace entries only while no watcher runs.
    static Calls& calls();

    // Watches nothing yet.
    FolderWatcher(Clock::duration delay, std::function<void()> onChange);
    FolderWatcher(Clock::duration delay, std::function<void()> onChange, Options options);
    // Stops, on the watcher's queue (directly when already on it).
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Stops whatever was watched, then watches the folder (links resolved) if
    // one is given. Blocks the caller until the watches are in place.
    void watch(const std::optional<std::string>& folder);

    // Whether a change at `path` matters to the page watching `root`: the root
    // itself and folders above it count; below it, nothing inside node_modules,
    // no hidden file and nothing inside a private folder does.
    static bool counts(const std::string& path, const std::string& root);

    Snapshot snapshot();

    const std::string& label() const { return queue_.label(); }

private:
    struct Session;
    class RealTimer;

    void stop();
    void start(const std::string& folder);
    void addTree(const std::shared_ptr<Session>& session, const std::string& folder);
    void dropTree(const std::shared_ptr<Session>& session, const std::string& folder);
    void readLoop(const std::shared_ptr<Session>& session);
    void take(const std::shared_ptr<Session>& session, const std::string& bytes);
    void note(const std::shared_ptr<Session>& session, std::string path);
    void deliver(const std::shared_ptr<Session>& session);
    void logLimit(Session& session);
    Timer& timer();

    const Clock::duration delay_;
    const std::function<void()> onChange_;
    const Options options_;
    std::unique_ptr<Timer> realTimer_;
    // The running watch and the scheduled callback; touched on queue_ only.
    std::shared_ptr<Session> session_;
    std::shared_ptr<WorkItem> pending_;

    // Queues last, reader after queue_: the reader (which posts to queue_) is
    // joined first, then queue_ finishes, both before the state above goes.
    SerialQueue queue_{"quillmarsh.folder-watch"};
    SerialQueue reader_{"quillmarsh.folder-watch.read"};
};
