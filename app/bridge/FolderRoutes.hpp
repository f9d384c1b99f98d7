#pragma once
// The open folder for the page: POST /api/close-folder, and GET /api/tree,
// whose walk runs on the listing queue so that a huge folder never holds up
// the main thread or io.
#include <mutex>
#include <set>
#include <string>

#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Dispatch.hpp"

class FolderRoutes {
public:
    FolderRoutes(Responder& responder, Queue& listing, OpenFolder& folder);
    void addRoutes(RouteTable& table);

private:
    void closeFolder(const ApiRequest& request);
    void getTree(const ApiRequest& request);

    Responder& responder_;
    Queue& listing_;
    OpenFolder& folder_;
    // Folders whose listing is under way; guarded by busyLock_, held only
    // for its short updates, never during a walk.
    std::mutex busyLock_;
    std::set<std::string> busy_;
};
