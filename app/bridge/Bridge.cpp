#include "app/bridge/Bridge.hpp"

#include "core/Files.hpp"

#include <fstream>
#include <sstream>

#include "core/LogFile.hpp"
#include "core/SupportFolder.hpp"

#ifndef QUILLMARSH_DISPLAY_NAME
#define QUILLMARSH_DISPLAY_NAME "Quillmarsh"
#endif

namespace {

// The editor's build information; anything but a JSON object counts as none.
nlohmann::json readInfo(const std::string& editor) {
    std::ifstream in(editor + "/version.json", std::ios::binary);
    if (!in) return nlohmann::json::object();
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return nlohmann::json::object();
    return parsed;
}

// A text member of the build information; "" when it is missing or not text.
std::string textOf(const nlohmann::json& info, const char* key) {
    auto found = info.find(key);
    return found != info.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

const std::string& appName() {
    // The display name is fixed when the program is built, as the platform's
    // own program information would be; "Quill Marsh" stands when none was given.
    static const std::string name = [] {
        std::string built = QUILLMARSH_DISPLAY_NAME;
        return built.empty() ? std::string("Quill Marsh") : built;
    }();
    return name;
}

Bridge::Bridge(std::string editorFolder, Platform platformServices, std::string dataHome)
    : token(makeToken()),
      editor(std::move(editorFolder)),
      info(readInfo(editor)),
      platform_(platformServices),
      support_(SupportFolder::find(dataHome)),
      settings_(support_ + "/settings.json", textOf(info, "version")),
      recent_(support_ + "/recent.json"),
      session_(support_ + "/session.json"),
      recovery_(support_ + "/recovery"),
      pluginFolders_(support_ + "/plugin-folders.json"),
      imageFolders_(support_ + "/image-folders.json"),
      updateState_(support_ + "/update-check.json"),
      backups_(backupsFolder()),
      autosave_(support_ + "/autosave.json", [this] { return autosaveDefault(); }),
      responder_(platform_.main),
      assets_(responder_, editor, token, productName()),
      folder_(io, listing, platform_.bookmarks, recent_,
              // On the watcher's queue; the page is told on the main thread,
              // and only while this bridge still exists.
              [this] { responder_.onMain([this] { if (onFolderChanged) onFolderChanged(); }); }),
      documentBookmarks_(platform_.bookmarks, disk, io),
      infoRoutes_(responder_, platform_.workspace, editor, info, backupsFolder(),
                  [this] { if (onQuit) onQuit(); }),
      documents_(responder_, disk, io, folder_, handles_, locks_, versions_, recent_),
      saveRoutes_(responder_, saves, saveWork, folder_, handles_, locks_, backups_),
      folderRoutes_(responder_, listing, folder_),
      recentRoutes_(responder_, recent_, folder_, handles_, platform_.bookmarks),
      panels_(responder_, io, platform_.panels, platform_.bookmarks, folder_, handles_, recent_),
      handOver_(responder_, disk, io, platform_.bookmarks, folder_, handles_, recent_,
                [this] { if (onOpenRequested) onOpenRequested(); }),
      pluginFolderRoutes_(responder_, io, platform_.panels, platform_.bookmarks, pluginFolders_),
      settingsRoutes_(responder_, settings_),
      recoveryRoutes_(responder_, recovery_, folder_, handles_, documentBookmarks_, platform_.bookmarks),
      sessionRoutes_(responder_, session_, folder_, handles_, platform_.bookmarks),
      autosaveRoutes_(responder_, autosave_, folder_, handles_),
      imageRoutes_(responder_, io, platform_.panels, platform_.bookmarks, folder_, handles_, imageFolders_),
      updateRoutes_(responder_, io, updates, settings_, updateState_, platform_.network, platform_.workspace,
                    textOf(info, "version"), updateOptions, stopUpdates_) {
    infoRoutes_.addRoutes(routes_);
    panels_.addRoutes(routes_);
    handOver_.addRoutes(routes_);
    folderRoutes_.addRoutes(routes_);
    recentRoutes_.addRoutes(routes_);
    documents_.addRoutes(routes_);
    saveRoutes_.addRoutes(routes_);
    pluginFolderRoutes_.addRoutes(routes_);
    settingsRoutes_.addRoutes(routes_);
    recoveryRoutes_.addRoutes(routes_);
    sessionRoutes_.addRoutes(routes_);
    autosaveRoutes_.addRoutes(routes_);
    imageRoutes_.addRoutes(routes_);
    updateRoutes_.addRoutes(routes_);
    // Old backups go first, before any request queued on io after this.
    io.async([this] {
        int removed = backups_.prune(std::chrono::system_clock::now());
        if (removed >= 1) appLog().add("backups: removed " + std::to_string(removed) + " older than 30 days");
    });
}

// The queues are members, destroyed (and their threads joined) before the
// rest; only update fetches are told to stop, since they wait on the network.
Bridge::~Bridge() { stopUpdates_ = true; }

void Bridge::tidyAtLaunch() {
    io.async([this] {
        int kept = Files::keepInterruptedSaves(backups_, std::chrono::system_clock::now());
        if (kept >= 1) {
            appLog().add("save: " + std::to_string(kept) + (kept == 1 ? " copy" : " copies") +
                         " of interrupted saves kept in Backups");
        }
        // Folders of Open Recent whole (as when they are opened); for a
        // document only its own folder, which may be a whole home folder.
        std::vector<std::pair<std::string, int>> places;
        for (const Recent::Item& item : recent_.items()) {
            if (item.kind == "folder") {
                places.emplace_back(item.path, wholeTree);
            } else if (auto slash = item.path.rfind('/'); slash != std::string::npos) {
                places.emplace_back(slash == 0 ? "/" : item.path.substr(0, slash), 1);
            }
        }
        for (const auto& place : places) {
            listing.async([place] { sweepTemporaries(place.first, place.second); });
        }
        // Keeps of recovery copies killed half-way leave theirs among the entries.
        listing.async([folder = recovery_.folder()] { sweepTemporaries(folder, 1); });
    });
}

bool Bridge::autosaveDefault() const {
    const auto& value = settings_.values()["autosaveDefault"];
    return value.is_boolean() ? value.get<bool>() : true;
}

std::string Bridge::productName() const {
    auto name = info.find("name");
    if (name != info.end() && name->is_string()) return name->get<std::string>();
    return appName();
}
