#pragma once
// The frame behind the lornwick scheme: it checks every request of the page
// (origin, token, body) and hands it to the one route table, whose rows the
// route groups register. It owns the queues, the platform seams, the state
// several groups share, and the groups themselves. Created once per launch
// before the web view.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/bridge/ApiRequest.hpp"
#include "app/bridge/AssetServer.hpp"
#include "app/bridge/AutoSaveRoutes.hpp"
#include "app/bridge/DocumentBookmarks.hpp"
#include "app/bridge/DocumentRoutes.hpp"
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/FileLocks.hpp"
#include "app/bridge/FolderRoutes.hpp"
#include "app/bridge/HandOverRoutes.hpp"
#include "app/bridge/ImageRoutes.hpp"
#include "app/bridge/InfoRoutes.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/PanelRoutes.hpp"
#include "app/bridge/Platform.hpp"
#include "app/bridge/PluginFolderRoutes.hpp"
#include "app/bridge/ProgramName.hpp"
#include "app/bridge/RecentRoutes.hpp"
#include "app/bridge/RecoveryRoutes.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "app/bridge/SaveRoutes.hpp"
#include "app/bridge/SettingsRoutes.hpp"
#include "app/bridge/SessionRoutes.hpp"
#include "app/bridge/UpdateRoutes.hpp"
#include "app/bridge/VersionCache.hpp"
#include "core/AutoSaveRules.hpp"
#include "core/Backups.hpp"
#include "core/Dispatch.hpp"
#include "core/PluginFolderStore.hpp"
#include "core/Recent.hpp"
#include "core/Settings.hpp"
#include "core/RecoveryStore.hpp"
#include "core/SessionStore.hpp"
#include "core/UpdateFetcher.hpp"

class Bridge {
public:
    // `dataHome` is the folder that holds the support folder (the XDG data home).
    Bridge(std::string editor, Platform platform, std::string dataHome);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // What saves killed half-way left behind is tidied, with log lines of
    // counts: copies of the new text in the private replacement folders go
    // into Backups; stale temporary files beside the documents and in the
    // folders of Open Recent are removed. Called once by the program at
    // launch, not by every Bridge made (tests and benchmarks make many, and
    // must not touch the user's folders). Work on io and the listing queue.
    void tidyAtLaunch();

    // The scheme handler; main thread only.
    void start(std::shared_ptr<SchemeTask> task);
    void stop(const std::shared_ptr<SchemeTask>& task) { responder_.stop(task); }

    // Documents given to the program on its command line or by the desktop's
    // file manager: checked on disk, kept for the page, which is then told
    // through onOpenRequested. Main thread.
    void handOverFromFinder(std::vector<std::string> paths) { handOver_.handOver(std::move(paths)); }

    // The name the start document shows: info["name"] when it is text, else appName.
    std::string productName() const;
    std::string backupsFolder() const { return support_ + "/Backups"; }
    // Whether auto-save is on where no rule says otherwise; asked anew each
    // time the auto-save rules need it. On io.
    bool autosaveDefault() const;

    const std::string token;
    const std::string editor;
    // The editor's build information from version.json; always an object.
    const nlohmann::json info;

    // What the Bridge tells the program; set before the first request, called
    // on the main thread.
    std::function<void()> onQuit;
    std::function<void()> onFolderChanged;
    std::function<void()> onOpenRequested;

    // Where update checks fetch the feed and how long they may take. The
    // console and the tests point it at a local server before the first
    // request; the desktop program never changes it.
    UpdateFetcher::Options updateOptions;

    // The shared state, for the console and the tests.
    Responder& responder() { return responder_; }
    OpenFolder& folder() { return folder_; }
    FileHandles& handles() { return handles_; }
    // On io only.
    Settings& settings() { return settings_; }
    Recent& recent() { return recent_; }
    SessionStore& session() { return session_; }
    RecoveryStore& recovery() { return recovery_; }
    PluginFolderStore& pluginFolders() { return pluginFolders_; }
    AutoSaveRules& autosave() { return autosave_; }
    FileLocks& fileLocks() { return locks_; }
    const DocumentRoutes& documents() const { return documents_; }
    ImageRoutes& images() { return imageRoutes_; }

private:
    Platform platform_;
    // The folder that holds every remembered state.
    const std::string support_;
    // The user's settings; on io only.
    Settings settings_;
    // The Open Recent list; on io only.
    Recent recent_;
    // What was open last time; on io only.
    SessionStore session_;
    // The last copies of unsaved text; on io only.
    RecoveryStore recovery_;
    // The folders chosen for the page's plugins; on io only.
    PluginFolderStore pluginFolders_;
    // The folders the user allowed pictures from, and what the update check
    // remembers; for the picture and update routes, on io only.
    JSONFile imageFolders_;
    JSONFile updateState_;
    // The one backup keeper, shared by every save; safe from any thread.
    Backups backups_;
    // Auto-save switched on or off per document or folder; on io only.
    AutoSaveRules autosave_;
    // Before the groups and the queues: answers and posts to the main thread
    // stay possible until every job has finished.
    Responder responder_;
    AssetServer assets_;

    FileHandles handles_;
    FileLocks locks_;
    VersionCache versions_;
    OpenFolder folder_;
    // Bookmarks of documents with recovery copies; on io only.
    DocumentBookmarks documentBookmarks_;

    RouteTable routes_;
    InfoRoutes infoRoutes_;
    DocumentRoutes documents_;
    SaveRoutes saveRoutes_;
    FolderRoutes folderRoutes_;
    RecentRoutes recentRoutes_;
    PanelRoutes panels_;
    HandOverRoutes handOver_;
    PluginFolderRoutes pluginFolderRoutes_;
    SettingsRoutes settingsRoutes_;
    RecoveryRoutes recoveryRoutes_;
    SessionRoutes sessionRoutes_;
    AutoSaveRoutes autosaveRoutes_;
    ImageRoutes imageRoutes_;
    // Set first when the Bridge goes: a fetch in progress ends at once
    // instead of holding up the quit for its whole time limit.
    std::atomic<bool> stopUpdates_{false};
    UpdateRoutes updateRoutes_;

public:
    // Queues last: they are destroyed first, so no job outlives the state it
    // uses, and among them in reverse order, each before the queues its
    // jobs hand work to: a save waits for its side work, disk jobs post to
    // io (Open Recent), io jobs post to listing (sweeps of opened folders).
    ConcurrentQueue listing{"quillmarsh.bridge.listing"};
    SerialQueue io{"quillmarsh.bridge.io"};
    ConcurrentQueue disk{"quillmarsh.bridge.disk"};
    // The work one save does side by side (hashing, the backup copy); its own
    // pool, so a save never waits behind reads that wait for the save's lock.
    ConcurrentQueue saveWork{"quillmarsh.bridge.save-work", 4};
    // Saves: one sequence per document, on a bounded pool.
    KeyedSerialQueue saves{"quillmarsh.bridge.save", 4};
    // Update fetches, each blocking its thread until the feed arrives or
    // its time is up; after io, since they hand their results to io.
    ConcurrentQueue updates{"quillmarsh.bridge.update", 2};
};

// A fresh per-launch secret: two random version-4 UUIDs, upper case, back to back.
std::string makeToken();
