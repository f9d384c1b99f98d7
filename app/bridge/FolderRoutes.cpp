// The open folder: opening and closing it, the watcher that follows it, and
// GET /api/tree, whose walk runs on the listing queue so that a huge folder
// never holds up the main thread or io.
#include "app/bridge/Bridge.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/JSONText.hpp"
#include "core/UTF8.hpp"

namespace {

// The most documents one answer holds.
constexpr std::size_t kMaxListed = 5000;
// Quiet time after the last change before the page is told.
constexpr auto kWatchDelay = std::chrono::seconds(1);

// The tree answer written straight out: thousands of paths would otherwise
// each become a JSON object first, costing more than the walk itself.
std::string treeBody(const std::string& folder, const Files::Listing& listing) {
    std::size_t size = 64 + folder.size();
    for (const auto& path : listing.paths) size += path.size() + 32;
    std::string body;
    body.reserve(size);
    body += "{\"files\":[";
    bool first = true;
    for (const auto& path : listing.paths) {
        body += first ? "{\"offline\":false,\"path\":" : ",{\"offline\":false,\"path\":";
        first = false;
        JSONText::appendString(body, path);
        body += '}';
    }
    body += "],\"folder\":";
    // openFolder admits only UTF-8 folders; were one ever to slip through,
    // this throws and the page is told, rather than shown another name.
    body += nlohmann::json(folder).dump();
    body += listing.truncated ? ",\"truncated\":true}" : ",\"truncated\":false}";
    return body;
}

}  // namespace

void Bridge::openFolder(const std::string& folder) {
    // Both names reach the page and Open Recent; checked before anything
    // changes, so a refusal leaves the folder open now as it was.
    UTF8::checkFolderName(folder);
    std::string real = Files::realPath(folder);
    UTF8::checkFolderName(real);
    if (root) platform.bookmarks.leaveScope(*root);
    platform.bookmarks.enterScope(folder);
    setRoot(real);
    // The bookmark is of the folder as chosen, so a later launch finds it the same way.
    std::string bookmark = platform.bookmarks.make(folder);
    recent.add("folder", folder, bookmark.empty() ? std::nullopt : std::optional<std::string>(bookmark));
}

void Bridge::setRoot(const std::optional<std::string>& folder) {
    root = folder;
    {
        std::lock_guard lock(listLock);
        listRoot = folder;
    }
    if (!watcher) {
        if (!folder) return;  // nothing to stop
        // The watcher runs on its own queue; the page is told on the main
        // thread, and only while this bridge still exists.
        watcher = std::make_unique<FolderWatcher>(kWatchDelay, [this, alive = alive_, &main = platform.main] {
            main.post([this, alive] {
                if (*alive && onFolderChanged) onFolderChanged();
            });
        });
    }
    watcher->watch(folder);
}

void Bridge::closeFolder(const ApiRequest& request) {
    if (root) platform.bookmarks.leaveScope(*root);
    setRoot(std::nullopt);
    sendJSON(request.task, 200, {{"folder", nullptr}});
}

void Bridge::getTree(const ApiRequest& request) {
    std::optional<std::string> folder;
    bool already = false;
    {
        std::lock_guard lock(listLock);
        folder = listRoot;
        if (folder) already = !listBusy.insert(*folder).second;
    }
    if (!folder) {
        return sendJSON(request.task, 200,
                        {{"folder", nullptr}, {"files", nlohmann::json::array()}, {"truncated", false}});
    }
    if (already) return sendJSON(request.task, 503, {{"error", "still listing the folder"}, {"busy", true}});

    listing.async([this, task = request.task, folder = *folder] {
        Files::Listing result = Files::list(folder, kMaxListed);
        bool same;
        {
            std::lock_guard lock(listLock);
            listBusy.erase(folder);
            same = listRoot == folder;
        }
        answering(task, [&] {
            // The user closed the folder or opened another meanwhile: this list is of no use.
            if (!same) {
                return sendJSON(task, 503, {{"error", "the folder changed while it was listed"}, {"busy", true}});
            }
            send(task, 200, treeBody(folder, result), "application/json");
        });
    });
}
