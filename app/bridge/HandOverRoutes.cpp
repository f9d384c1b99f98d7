#include "app/bridge/HandOverRoutes.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "core/PathNames.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/LogFile.hpp"
#include "core/UTF8.hpp"

namespace {

struct Checked {
    std::vector<std::pair<std::string, std::optional<std::string>>> accepted;
    long long skipped = 0;
};

}  // namespace

HandOverRoutes::HandOverRoutes(Responder& responder, Queue& disk, Queue& io, Bookmarks& bookmarks,
                               const OpenFolder& folder, FileHandles& handles, Recent& recent,
                               std::function<void()> told)
    : responder_(responder),
      disk_(disk),
      io_(io),
      bookmarks_(bookmarks),
      folder_(folder),
      handles_(handles),
      recent_(recent),
      told_(std::move(told)) {}

void HandOverRoutes::addRoutes(RouteTable& table) {
    table.add("POST", "/api/opened", StartOn::io, [this](ApiRequest& request) { opened(request); });
}

void HandOverRoutes::handOver(std::vector<std::string> paths) {
    QUILLMARSH_ONLY_ON(responder_.main());
    auto check = [this, paths = std::move(paths)] {
        Checked checked;
        for (const auto& path : paths) {
            struct stat info;
            // A name that is not UTF-8 could be neither described to the page
            // nor kept in Open Recent: left out like the rest.
            bool document = path.starts_with("/") && UTF8::isValid(path) && Files::isMarkdown(PathNames::lastComponent(path)) &&
                            ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
            if (!document) {
                ++checked.skipped;
                continue;
            }
            bookmarks_.enterScope(path);
            checked.accepted.emplace_back(path, bookmarkOrNone(bookmarks_.make(path)));
        }
        return checked;
    };
    postAndReply(disk_, std::move(check), io_, [this](Checked checked) {
        QUILLMARSH_ONLY_ON(io_);
        skipped_ += checked.skipped;
        for (const auto& [path, bookmark] : checked.accepted) {
            recent_.add("file", path, bookmark);
            if (std::find(waiting_.begin(), waiting_.end(), path) == waiting_.end()) waiting_.push_back(path);
        }
        appLog().add("finder: " + std::to_string(waiting_.size()) + " to open, " + std::to_string(skipped_) +
                     " left out");
        responder_.onMain(told_);
    });
}

nlohmann::json HandOverRoutes::describeDocument(const std::string& path) {
    std::string resolved = Files::realPath(path);
    auto root = folder_.current();
    if (root && resolved.starts_with(*root + "/")) {
        std::string relative = resolved.substr(root->size() + 1);
        try {
            Files::lexical(relative, root);
            return {{"path", relative}, {"location", resolved}, {"name", PathNames::lastComponent(resolved)}};
        } catch (const BridgeError&) {
            // A hidden or private place inside the folder: the page gets a handle instead.
        }
    }
    return handles_.chosenFile(path);
}

void HandOverRoutes::opened(const ApiRequest& request) {
    QUILLMARSH_ONLY_ON(io_);
    nlohmann::json files = nlohmann::json::array();
    for (const auto& path : waiting_) files.push_back(describeDocument(path));
    long long skipped = skipped_;
    waiting_.clear();
    skipped_ = 0;
    responder_.sendJSON(request.task, 200, {{"files", files}, {"skipped", skipped}});
}
