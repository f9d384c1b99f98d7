#include "app/bridge/ImageRoutes.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "app/bridge/DocumentAddress.hpp"
#include "app/bridge/PanelRunner.hpp"
#include "app/bridge/ProgramName.hpp"
#include "core/BridgeError.hpp"
#include "core/Images.hpp"
#include "core/PathNames.hpp"
#include "core/PathRules.hpp"
#include "core/StoredJSON.hpp"
#include "core/UTF8.hpp"

namespace {

// A served picture may be an SVG from a stranger's document: it may show
// itself, never run or fetch anything.
constexpr const char* pictureCSP = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";

struct Granted {
    std::string path;
    std::string bookmark;
};

// The remembered folders, oldest first; none unless the file is an array of
// objects whose members are all text.
std::vector<Granted> loadGranted(const JSONFile& file) {
    std::vector<Granted> list;
    auto value = file.load();
    if (!value || !value->is_array()) return {};
    for (const auto& entry : *value) {
        if (!entry.is_object()) return {};
        for (const auto& member : entry) {
            if (!member.is_string()) return {};
        }
        const std::string* path = StoredJSON::stringMember(entry, "path");
        const std::string* bookmark = StoredJSON::stringMember(entry, "bookmark");
        list.push_back({path ? *path : std::string(), bookmark ? *bookmark : std::string()});
    }
    return list;
}

bool isFolder(const std::string& path) {
    struct stat status;
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The real path, or none when links loop.
std::optional<std::string> realOrNone(const std::string& path) {
    try {
        return Files::realPath(path);
    } catch (const BridgeError&) {
        return std::nullopt;
    }
}

}  // namespace

ImageRoutes::ImageRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks,
                         OpenFolder& folder, FileHandles& handles, JSONFile& imageFolders)
    : responder_(responder),
      io_(io),
      panels_(panels),
      bookmarks_(bookmarks),
      folder_(folder),
      handles_(handles),
      imageFolders_(imageFolders) {}

void ImageRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/image", StartOn::io, [this](ApiRequest& request) { image(request); });
    table.add("POST", "/api/allow-images", StartOn::io, [this](ApiRequest& request) { allow(request); });
}

void ImageRoutes::image(const ApiRequest& request) {
    std::string doc = DocumentAddress::path(request.query, folder_.current(), *handles_.current());
    std::string allowed;
    bool sandboxed = false;
    if (DocumentAddress::handleOf(request.query)) {
        // A document opened by itself: its own folder unless one above it was allowed.
        auto granted = grantedPictureFolder(doc);
        allowed = granted.value_or(PathNames::folderOf(doc));
        sandboxed = !granted;
    } else {
        auto root = folder_.current();
        if (!root) throw BridgeError(403, "no folder is open");
        allowed = *root;
    }
    const std::string* src = request.item("src");
    Images::Picture picture;
    try {
        picture = Images::read(Images::resolve(src ? *src : std::string(), doc, allowed), sandboxed);
    } catch (const BridgeError& error) {
        if (error.message != Images::needsFolder) throw;
        // The page offers to allow the folder on this answer.
        responder_.sendJSON(request.task, 403,
                            {{"error", error.message},
                             {"needsFolder", true},
                             {"folder", PathNames::lastComponent(PathNames::folderOf(doc))}});
        return;
    }
    responder_.send(request.task, 200, std::move(picture.bytes), std::move(picture.type),
                    {{"Content-Security-Policy", pictureCSP}});
}

void ImageRoutes::allow(const ApiRequest& request) {
    std::string doc = DocumentAddress::path(request.query, folder_.current(), *handles_.current());
    std::string docFolder = PathNames::folderOf(doc);
    PanelOptions options;
    options.files = false;
    options.folders = true;
    options.multiple = false;
    options.startFolder = docFolder;
    options.message = "Allow " + appName() + " to show the pictures in this folder (the folder of \u201C" +
                      PathNames::lastComponent(doc) + "\u201D)";
    options.acceptLabel = "Allow";
    runPanel(responder_, io_, panels_, request.task, options, [this, docFolder](const PanelResult& result) {
        if (!result.chosen || result.paths.empty()) return nlohmann::json{{"cancelled", true}};
        const std::string& chosen = result.paths.front();
        // Its path is stored as text and its name answered to the page.
        UTF8::checkFolderName(chosen);
        auto realDoc = realOrNone(docFolder);
        auto realChosen = realOrNone(chosen);
        if (!realDoc || !realChosen || !PathNames::holds(*realChosen, *realDoc)) {
            return nlohmann::json{{"cancelled", false},
                                  {"allowed", false},
                                  {"error", "That folder does not hold this document. Choose its own folder: " +
                                                PathNames::lastComponent(docFolder) + "."}};
        }
        reached(chosen);
        remember(chosen);
        return nlohmann::json{{"cancelled", false}, {"allowed", true}, {"folder", PathNames::lastComponent(chosen)}};
    });
}

std::optional<std::string> ImageRoutes::grantedPictureFolder(const std::string& doc) {
    auto folder = realOrNone(PathNames::folderOf(doc));
    if (!folder) return std::nullopt;
    auto holding = [&](std::size_t from) -> std::optional<std::string> {
        for (std::size_t i = from; i < imageAccess_.size(); ++i) {
            if (auto real = realOrNone(imageAccess_[i]); real && PathNames::holds(*real, *folder)) {
                return imageAccess_[i];
            }
        }
        return std::nullopt;
    };
    if (auto granted = holding(0)) return granted;
    // Only a miss reads the remembered list again: a preview of many pictures
    // under a folder already reached does not read the file for each one.
    if (rememberedReached_) return std::nullopt;
    std::size_t known = imageAccess_.size();
    reachRemembered();
    return holding(known);
}

void ImageRoutes::reachRemembered() {
    bool all = true;
    for (const Granted& entry : loadGranted(imageFolders_)) {
        std::optional<std::string> folder;
        if (!entry.bookmark.empty() && StoredJSON::isBase64(entry.bookmark)) {
            // A stale bookmark still leads to the folder; it is not renewed.
            if (auto resolved = bookmarks_.resolve(entry.bookmark); resolved && UTF8::isValid(*resolved)) {
                folder = *resolved;
            }
        }
        // No bookmark, or one that leads nowhere: the folder by its path while it is one.
        if (!folder && isFolder(entry.path)) folder = entry.path;
        if (folder) {
            reached(*folder);
        } else {
            all = false;
        }
    }
    rememberedReached_ = all;
}

void ImageRoutes::reached(const std::string& folder) {
    if (std::find(imageAccess_.begin(), imageAccess_.end(), folder) != imageAccess_.end()) return;
    bookmarks_.enterScope(folder);
    imageAccess_.push_back(folder);
}

void ImageRoutes::remember(const std::string& folder) {
    std::vector<Granted> list = loadGranted(imageFolders_);
    std::erase_if(list, [&](const Granted& entry) { return entry.path == folder; });
    list.push_back({folder, bookmarks_.make(folder)});
    if (list.size() > maxFolders) list.erase(list.begin(), list.end() - maxFolders);
    nlohmann::json value = nlohmann::json::array();
    for (const Granted& entry : list) value.push_back({{"path", entry.path}, {"bookmark", entry.bookmark}});
    imageFolders_.save(value);
}
