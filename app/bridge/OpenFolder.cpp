#include "app/bridge/OpenFolder.hpp"

#include "core/Files.hpp"
#include "core/UTF8.hpp"

namespace {

// Quiet time after the last change before the page is told.
constexpr auto watchDelay = std::chrono::seconds(1);

}  // namespace

OpenFolder::OpenFolder(const Queue& io, Bookmarks& bookmarks, Recent& recent, std::function<void()> changed)
    : io_(io), bookmarks_(bookmarks), recent_(recent), changed_(std::move(changed)) {}

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
    std::string bookmark = bookmarks_.make(folder);
    recent_.add("folder", folder, bookmark.empty() ? std::nullopt : std::optional<std::string>(bookmark));
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
