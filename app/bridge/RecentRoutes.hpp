#pragma once
// Open Recent for the page: the list, clearing it, and reopening an entry by
// its position. An entry found gone is removed and the page is told why.
// All on io, where Open Recent lives.
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Recent.hpp"

class RecentRoutes {
public:
    RecentRoutes(Responder& responder, Recent& recent, OpenFolder& folder, FileHandles& handles,
                 Bookmarks& bookmarks);
    void addRoutes(RouteTable& table);

private:
    void getRecent(const ApiRequest& request);
    void clearRecent(const ApiRequest& request);
    void openRecent(const ApiRequest& request);

    Responder& responder_;
    Recent& recent_;
    OpenFolder& folder_;
    FileHandles& handles_;
    Bookmarks& bookmarks_;
};
