#pragma once
// Documents given to the program from outside the page: on Linux, paths on
// the command line and documents the desktop's file manager opens with the
// program (GApplication's "open"). They are checked on disk, kept for the
// page, which is then told; POST /api/opened hands them over.
#include <functional>
#include <string>
#include <vector>

#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Recent.hpp"

class HandOverRoutes {
public:
    // `told` runs on the main thread once documents are kept for the page.
    HandOverRoutes(Responder& responder, Queue& disk, Queue& io, Bookmarks& bookmarks, const OpenFolder& folder,
                   FileHandles& handles, Recent& recent, std::function<void()> told);
    void addRoutes(RouteTable& table);

    // Documents handed over. Main thread.
    void handOver(std::vector<std::string> paths);

private:
    void opened(const ApiRequest& request);
    // How POST /api/opened names one of them: by its path inside the open
    // folder when the path rules allow, else by a file handle. On io.
    nlohmann::json describeDocument(const std::string& path);

    Responder& responder_;
    Queue& disk_;
    Queue& io_;
    Bookmarks& bookmarks_;
    const OpenFolder& folder_;
    FileHandles& handles_;
    Recent& recent_;
    std::function<void()> told_;
    // Documents the page has not collected; no path twice. On io.
    std::vector<std::string> waiting_;
    // How many handed-over items were left out since the page last collected. On io.
    long long skipped_ = 0;
};
