#include "app/bridge/DocumentBookmarks.hpp"

std::optional<std::string> DocumentBookmarks::find(const std::string& path) {
    QUILLMARSH_ONLY_ON(io_);
    if (auto found = made_.find(path); found != made_.end()) return found->second;
    if (!making_.insert(path).second) return std::nullopt;
    postAndReply(
        disk_, [this, path] { return bookmarks_.make(path); }, io_,
        [this, path](std::string bookmark) {
            making_.erase(path);
            if (!bookmark.empty()) made_[path] = std::move(bookmark);
        });
    return std::nullopt;
}
