// Open Recent for the page: the list, clearing it, and reopening an entry by
// its position. An entry found gone is removed and the page is told why.
#include <sys/stat.h>

#include <charconv>

#include "app/bridge/Bridge.hpp"
#include "core/BridgeError.hpp"
#include "core/UTF8.hpp"

namespace {

// A decimal integer with an optional sign; anything else, an overflow
// included, is no index at all.
long long parseIndex(const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return -1;
    long long value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return -1;
    return negative ? -value : value;
}

}  // namespace

void Bridge::getRecent(const ApiRequest& request) { sendJSON(request.task, 200, {{"items", recent.listing()}}); }

void Bridge::clearRecent(const ApiRequest& request) {
    recent.clear();
    sendJSON(request.task, 200, {{"items", nlohmann::json::array()}});
}

void Bridge::openRecent(const ApiRequest& request) {
    long long index = -1;
    if (auto found = request.query.find("index"); found != request.query.end()) index = parseIndex(found->second);
    if (index < 0 || index >= static_cast<long long>(recent.items().size())) {
        throw BridgeError(404, "that recent item no longer exists; reopen the list");
    }
    const Recent::Item item = recent.items()[static_cast<std::size_t>(index)];

    // A bookmark follows an item that moved; a stale one is used as it is.
    std::string path = item.path;
    if (item.bookmark) {
        if (auto resolved = platform.bookmarks.resolve(*item.bookmark)) path = *resolved;
    }
    // The list holds only UTF-8 paths, but a bookmark may lead anywhere.
    if (item.kind == "folder") UTF8::checkFolderName(path);
    else UTF8::checkFileName(path);
    platform.bookmarks.enterScope(path);

    struct stat info;
    bool exists = ::stat(path.c_str(), &info) == 0;
    bool folder = item.kind == "folder";
    if (exists && S_ISDIR(info.st_mode) == folder) {
        if (folder) {
            openFolder(path);
            return sendJSON(request.task, 200, {{"kind", "folder"}, {"folder", path}});
        }
        recent.add("file", path, item.bookmark);
        nlohmann::json answer = chosenFile(path);
        answer["kind"] = "file";
        return sendJSON(request.task, 200, answer);
    }
    // Gone, or a file turned into a folder or the reverse.
    recent.remove(static_cast<std::size_t>(index));
    sendJSON(request.task, 404,
             {{"error", item.path + " is no longer there (moved or deleted); removed from Open Recent"},
              {"removed", true}});
}
