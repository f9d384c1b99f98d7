#pragma once
// The open folder: which folder the page works in, entering and leaving its
// scope, remembering it in Open Recent, and the watcher that follows it.
// It changes on io only; any thread may ask which folder is open, so work
// that only reads it need not pass through io.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/bridge/Platform.hpp"
#include "core/Dispatch.hpp"
#include "core/FolderWatcher.hpp"
#include "core/Recent.hpp"
#include "core/TemporarySweep.hpp"

// Removes what killed saves left below `folder` (see Files::sweepTemporaries),
// `depth` folder levels deep, and logs the counts when there were any. Never throws.
void sweepTemporaries(const std::string& folder, int depth);
// The depth of a sweep of a whole folder.
inline const int wholeTree = Files::SweepOptions{}.maxDepth;

class OpenFolder {
public:
    // `changed` runs on the watcher's queue after changes in the folder have
    // settled; `io` is where this object may change; `background` sweeps a
    // folder once it is opened.
    OpenFolder(const Queue& io, Queue& background, Bookmarks& bookmarks, Recent& recent,
               std::function<void()> changed);

    // The folder open now, links resolved; none when no folder is open. Any thread.
    std::optional<std::string> current() const;

    // Makes the folder, as the user chose it, the open folder: its scope is
    // entered, the folder becomes current with links resolved, Open Recent
    // remembers it, and stale temporary files of killed saves in it are
    // swept in the background. A folder whose name or real path is not UTF-8 is refused
    // (400) before anything changes. On io.
    void open(const std::string& folder);
    // Leaves the folder's scope; no folder is open afterwards. On io.
    void close();
    // Makes `folder` (a real path) current and points the watcher at it; no
    // scope or Open Recent. On io.
    void set(const std::optional<std::string>& folder);

    // The watcher, once a folder was ever open; for the tests.
    FolderWatcher* watcher() { return watcher_.get(); }

private:
    const Queue& io_;
    Queue& background_;
    Bookmarks& bookmarks_;
    Recent& recent_;
    std::function<void()> changed_;
    mutable std::mutex mutex_;
    std::optional<std::string> root_;
    // Made on first use, on io.
    std::unique_ptr<FolderWatcher> watcher_;
};
