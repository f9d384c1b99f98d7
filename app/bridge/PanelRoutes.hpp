#pragma once
// Open and save panels. The page never names a path outside the open folder
// itself: what the user picks comes back as a file handle with a path and a
// name to show. Requests start on io; the panel runs on the main thread and
// its answer is made on io again.
#include <functional>

#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Recent.hpp"

class PanelRoutes {
public:
    PanelRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks, OpenFolder& folder,
                FileHandles& handles, Recent& recent);
    void addRoutes(RouteTable& table);

private:
    // Shows a panel on the main thread; on io, answers the request with 200
    // and the JSON the completion makes of what the user chose (what it
    // throws is answered as an error).
    void runPanel(const std::shared_ptr<SchemeTask>& task, PanelOptions options,
                  std::function<nlohmann::json(const PanelResult&)> completion);
    void chooseFolder(const ApiRequest& request);
    void chooseFiles(const ApiRequest& request);
    void chooseFile(const ApiRequest& request);
    void chooseSave(const ApiRequest& request);

    Responder& responder_;
    Queue& io_;
    Panels& panels_;
    Bookmarks& bookmarks_;
    OpenFolder& folder_;
    FileHandles& handles_;
    Recent& recent_;
};
