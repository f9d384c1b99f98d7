#pragma once
// The one object behind the lornwick scheme: it checks and routes every request
// of the page, answers through one response writer and owns every queue, cache
// and store the page can reach. Created once per launch before the web view.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/bridge/Platform.hpp"
#include "app/bridge/RequestURL.hpp"
#include "core/Dispatch.hpp"
#include "core/FolderWatcher.hpp"
#include "core/Backups.hpp"
#include "core/Recent.hpp"

#include "core/Files.hpp"

// An API request as handed to its operation, copied out of the task.
struct ApiRequest {
    std::shared_ptr<SchemeTask> task;
    std::string method;
    std::string path;
    Query query;
    std::string body;
    HeaderMap headers;
};

class Bridge {
public:
    // `dataHome` is the folder that holds the support folder (the XDG data home).
    Bridge(std::string editor, Platform platform, std::string dataHome);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Copies of the new text that saves killed half-way left in the private
    // replacement folders go into Backups, with a log line. Called once by
    // the program at launch, not by every Bridge made (tests and benchmarks
    // make many, and must not touch the user's folders). Work on io.
    void keepInterruptedSaves();

    // --- the scheme handler (RequestFrame.cpp); main thread only ---
    void start(std::shared_ptr<SchemeTask> task);
    void stop(const std::shared_ptr<SchemeTask>& task);

    // --- the response writer (ResponseWriter.cpp); any thread ---
    void send(std::shared_ptr<SchemeTask> task, int status, std::string body, std::string contentType,
              HeaderMap extra = {});
    // A value that cannot be written as JSON (text that is not UTF-8) is
    // answered as 500 with an error, never as a success.
    void sendJSON(std::shared_ptr<SchemeTask> task, int status, const nlohmann::json& value);
    void sendError(std::shared_ptr<SchemeTask> task, int status, const std::string& message);
    // Runs an operation and answers whatever it throws: a BridgeError with its
    // own status and message, anything else as 500 with its description.
    void answering(const std::shared_ptr<SchemeTask>& task, const std::function<void()>& operation);

    // --- second routing stage (Router.cpp); on io ---
    void route(const ApiRequest& request);

    // --- editor files (AssetServer.cpp); main thread ---
    void serveAsset(const std::shared_ptr<SchemeTask>& task, const std::string& path);
    // The name the start document shows: info["name"] when it is text, else appName.
    std::string productName() const;

    // --- app information (InfoRoutes.cpp) ---
    void getBuild(const ApiRequest& request);
    void getAbout(const ApiRequest& request);
    void getChangelog(const ApiRequest& request);
    void showBackups(const ApiRequest& request);
    void quit(const ApiRequest& request);
    // The last row of the router: 501 with the wording the path calls for.
    [[noreturn]] void unmatched(const ApiRequest& request);

    // --- fields ---
    const std::string token;
    const std::string editor;
    std::function<void()> onQuit;
    std::function<void()> onFolderChanged;
    std::function<void()> onOpenRequested;
    Platform platform;
    // Tasks the page abandoned; main thread only. Held by reference so that a
    // stopped task's identity cannot be reused by a later one.
    std::set<std::shared_ptr<SchemeTask>> stopped;
    // The editor's build information from version.json; always an object.
    nlohmann::json info;
    // The folder that holds every remembered state.
    std::string support;
    std::string backupsFolder() const { return support + "/Backups"; }

    // --- documents: reading, versions, handles, saving (DocumentRoutes.cpp, SaveRoute.cpp) ---
    // The handle ("f1", "f2", ...) of a document the user chose outside the open
    // folder, registered when the path is new. On io only.
    std::string handle(const std::string& path);
    // The open folder. Written and read on io only; work moved to another queue
    // takes a copy.
    std::optional<std::string> root;
    // Documents opened outside the folder, by handle; never shrinks. On io only.
    // Replaced, never changed, when a handle is added, so work moved to another
    // queue shares the list as it was instead of copying it for every request.
    using Handles = std::map<std::string, std::string>;
    std::shared_ptr<const Handles> picked = std::make_shared<const Handles>();
    // The Open Recent list; on io only.
    Recent recent;
    // The one backup keeper, shared by every save; safe from any thread.
    Backups backups;

    // The document a request names: a known handle ("file"), else a path in the
    // folder ("path", checked by the path rules). Throws 403. Safe from any
    // thread on copies of the folder and the handles.
    static std::string documentURL(const Query& query, const std::optional<std::string>& folder,
                                   const Handles& picked);
    // The same document with its folder held open (see Files::Place): what
    // reads and saves use. Throws 403 as documentURL does.
    static Files::Place documentPlace(const Query& query, const std::optional<std::string>& folder,
                                      const Handles& picked);
    // The real path of a place: what its file lock is found by, so that a
    // handle and a path naming one file share the lock.
    static std::string lockKey(const Files::Place& place);
    // Every read of a document by the routes: under its file lock, so a save
    // writing it in place is waited for. On disk.
    Files::Read readUnderLock(const Files::Place& place);
    // "f:" + handle or "p:" + path: reads of one key share one disk read, saves
    // of one key share one queue.
    static std::string readKey(const Query& query);
    // GET /api/file, POST /api/versions (DocumentRoutes.cpp) and PUT /api/file
    // (SaveRoute.cpp, which takes the body); started on io.
    void getFile(const ApiRequest& request);
    void checkVersions(const ApiRequest& request);
    void putFile(ApiRequest& request);
    // The save job of PUT /api/file, on the document's save queue, with copies
    // of the open folder and the handles taken on io.
    void saveDocument(const ApiRequest& request, const std::optional<std::string>& folder, const Handles& handles);
    // The version of a document for a version check: from `versions` while its
    // size, modification time and inode are unchanged, else read and hashed
    // again; "missing" or "unreadable" otherwise. What the check's batch of
    // look-ups saw at `path` stands for the document's state. On disk.
    // `place` opens the document, should it need reading.
    std::string versionOf(const std::string& path, Files::LinkCache& links, const std::function<Files::Place()>& place);
    // The lock of one real file path, made on first use and kept; serialises
    // saves of one file that arrive under different keys. Any thread.
    std::shared_ptr<std::mutex> fileLock(const std::string& path);

    // What a version check learnt of one document.
    struct VersionRecord {
        long long size = -1;
        long long mtimeSeconds = 0;
        long long mtimeNanoseconds = 0;
        long long inode = -1;
        std::string version;
    };
    // Guards reading, versions, versionsBusy and fileLocks; held only for their
    // map operations, never while a file is read or written.
    std::mutex versionsLock;
    bool versionsBusy = false;
    // Requests waiting for the read under way of their key.
    std::map<std::string, std::vector<std::shared_ptr<SchemeTask>>> reading;
    // Per document path: what the last version check found; entries are only replaced.
    std::unordered_map<std::string, VersionRecord> versions;
    std::map<std::string, std::shared_ptr<std::mutex>> fileLocks;
    // Bookmarks of documents opened by handle, made on demand; on io only.
    std::map<std::string, std::string> bookmarks;

    // --- the open folder: opening, closing, listing, watching (FolderRoutes.cpp) ---
    // Makes the folder, as the user chose it, the open folder: its scope is
    // entered, `root` gets it with links resolved, Open Recent remembers it.
    // A folder whose name or real path is not UTF-8 is refused (400) before
    // anything changes. On io.
    void openFolder(const std::string& folder);
    // Sets `root` and `listRoot` and points the watcher at the folder; nothing
    // stops the watcher. On io.
    void setRoot(const std::optional<std::string>& folder);
    void closeFolder(const ApiRequest& request);
    // Guards listRoot and listBusy; held only for their short updates, never
    // during a walk.
    std::mutex listLock;
    // The open folder as the listing sees it.
    std::optional<std::string> listRoot;
    // Folders whose listing is under way.
    std::set<std::string> listBusy;
    // Watches the open folder; made on first use, on io.
    std::unique_ptr<FolderWatcher> watcher;

    // --- Open Recent endpoints (RecentRoutes.cpp); on io ---
    void getRecent(const ApiRequest& request);
    void clearRecent(const ApiRequest& request);
    void openRecent(const ApiRequest& request);

    // --- panels and documents given to the program (PanelRoutes.cpp) ---
    // Shows a panel on the main thread; on io, answers the request with 200 and
    // the JSON the completion makes of what the user chose (what it throws is
    // answered as an error).
    void runPanel(const std::shared_ptr<SchemeTask>& task, PanelOptions options,
                  std::function<nlohmann::json(const PanelResult&)> completion);
    void chooseFolder(const ApiRequest& request);
    void chooseFiles(const ApiRequest& request);
    void chooseFile(const ApiRequest& request);
    void chooseSave(const ApiRequest& request);
    void opened(const ApiRequest& request);
    // Documents given to the program by the file manager or on its command
    // line: checked on disk, kept for the page, which is then told. Main thread.
    void handOverFromFinder(std::vector<std::string> paths);
    // How POST /api/opened names one of them: by its path inside the open
    // folder when the path rules allow, else by a file handle. On io.
    nlohmann::json describeDocument(const std::string& path);
    // {"file": handle, "location": path, "name": last component}. On io.
    nlohmann::json chosenFile(const std::string& path);
    // Documents from the file manager the page has not collected; no path twice. On io.
    std::vector<std::string> fromFinder;
    // How many handed-over items were left out since the page last collected. On io.
    long long finderSkipped = 0;

private:
    // First-stage work items that later parts of the bridge fill in; until
    // then they fall through to the router's last row.
    void documentItem(ApiRequest& request);  // may take the request's body
    void keepRecovery(const ApiRequest& request);
    void getTree(const ApiRequest& request);

    // Guards answers that are posted to the main queue after the bridge is gone.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);

public:
    // Queues last: they are destroyed first, so no job outlives the fields it uses.
    // One serial queue per save key ("quillmarsh.bridge.save"), made on first
    // use and kept; touched on io only.
    std::map<std::string, std::unique_ptr<SerialQueue>> saveQueues;
    SerialQueue io{"quillmarsh.bridge.io"};
    ConcurrentQueue disk{"quillmarsh.bridge.disk"};
    ConcurrentQueue listing{"quillmarsh.bridge.listing"};
};

// The application's display name.
const std::string& appName();
// A fresh per-launch secret: two random version-4 UUIDs, upper case, back to back.
std::string makeToken();
