#include "app/bridge/OpenFolder.hpp"

#include "core/Files.hpp"
#include "core/LogFile.hpp"
#include "core/TemporarySweep.hpp"
#include "core/UTF8.hpp"

namespace {

// Quiet time after the last change before the page is told.
constexpr auto watchDelay = std::chrono::seconds(1);

}  // namespace

void sweepTemporaries(const std::string& folder, int depth) {
    Files::SweepOptions options;
    options.maxDepth = depth;
    Files::SweepCounts counts = Files::sweepTemporaries(folder, std::chrono::system_clock::now(), options);
    if (counts.removed + counts.locked + counts.young == 0) return;
    appLog().add("save: " + std::to_string(counts.removed) + " stale temporary files removed, " +
                 std::to_string(counts.locked) + " in use, " + std::to_string(counts.young) + " too young" +
                 (counts.incomplete ? " (part of the folder)" : ""));
}

OpenFolder::OpenFolder(const Queue& io, Queue& background, Bookmarks& bookmarks, Recent& recent,
                       std::function<void()> changed)
    : io_(io), background_(background), bookmarks_(bookmarks), recent_(recent), changed_(std::move(changed)) {}

std::optional<std::string> OpenFolder::current() const {
    std::lock_guard lock(mutex_);
    return root_;
}

void OpenFolder::open(const std::string& folder) {
    QUILLMARSH_ONLY_ON(io_);
    // Both names reach the page and Open Recent; checked before anything
    // changes, so a refusal leaves the folder open now as it was.
    UTF8::checkFolderName(folder);
    std::string real = Files::realPath(folder);
    UTF8::checkFolderName(real);
    if (auto before = current()) bookmarks_.leaveScope(*before);
    bookmarks_.enterScope(folder);
    set(real);
    // The bookmark is of the folder as chosen, so a later launch finds it the same way.
    recent_.add("folder", folder, bookmarkOrNone(bookmarks_.make(folder)));
    background_.async([real] { sweepTemporaries(real, wholeTree); });
}

void OpenFolder::close() {
    QUILLMARSH_ONLY_ON(io_);
    if (auto before = current()) bookmarks_.leaveScope(*before);
    set(std::nullopt);
}

void OpenFolder::set(const std::optional<std::string>& folder) {
    QUILLMARSH_ONLY_ON(io_);
    {
        std::lock_guard lock(mutex_);
        root_ = folder;
    }
    if (!watcher_) {
        if (!folder) return;  // nothing to stop
        watcher_ = std::make_unique<FolderWatcher>(watchDelay, changed_);
    }
    watcher_->watch(folder);
}
