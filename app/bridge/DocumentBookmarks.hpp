#pragma once
// Bookmarks of documents the page keeps recovery copies of, by path. Making
// one may take the desktop a while, so a keep never waits for it: the first
// keep of a document starts one in the background and goes on without, and
// later keeps find it here. Lives on io; the making runs on the disk queue.
// Held for the life of the process, like the file handles.
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/Bookmarks.hpp"
#include "core/Dispatch.hpp"

class DocumentBookmarks {
public:
    DocumentBookmarks(Bookmarks& bookmarks, Queue& disk, Queue& io) : bookmarks_(bookmarks), disk_(disk), io_(io) {}

    // The bookmark made for the path, if there is one yet. When there is
    // none, one is started on the disk queue (unless one is under way
    // already) and kept here on io when done; a bookmark that cannot be
    // made is not kept, so a later keep tries again. On io.
    std::optional<std::string> find(const std::string& path);

private:
    Bookmarks& bookmarks_;
    Queue& disk_;
    Queue& io_;
    std::map<std::string, std::string> made_;
    std::set<std::string> making_;
};
