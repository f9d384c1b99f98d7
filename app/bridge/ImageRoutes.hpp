#pragma once
// Pictures of a document for the page's preview, and the folders the user
// allowed pictures from. A document in the open folder may show pictures from
// anywhere in that folder; a document opened by itself from its own folder,
// or from a folder the user allowed for it. Allowed folders are remembered in
// "image-folders.json" (the newest 50). All on io, where that list lives.
#include <optional>
#include <string>
#include <vector>

#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Dispatch.hpp"
#include "core/JSONFile.hpp"

class ImageRoutes {
public:
    // The most folders "image-folders.json" keeps; the oldest go first.
    static constexpr std::size_t maxFolders = 50;

    ImageRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks, OpenFolder& folder,
                FileHandles& handles, JSONFile& imageFolders);
    void addRoutes(RouteTable& table);

    // The first allowed folder that holds the document's folder, or none. On io.
    std::optional<std::string> grantedPictureFolder(const std::string& doc);

private:
    void image(const ApiRequest& request);
    void allow(const ApiRequest& request);
    // Reaches the folders of earlier runs: by bookmark where one resolves,
    // else by the stored path while it is a folder.
    void reachRemembered();
    // Opens access to a folder for the rest of the run, once.
    void reached(const std::string& folder);
    void remember(const std::string& folder);

    Responder& responder_;
    Queue& io_;
    Panels& panels_;
    Bookmarks& bookmarks_;
    OpenFolder& folder_;
    FileHandles& handles_;
    JSONFile& imageFolders_;
    // Folders reached in this run, in the order they were; never forgotten
    // while the program runs.
    std::vector<std::string> imageAccess_;
    // Every remembered folder has been reached (or there were none); until
    // then each look-up tries those not yet reached again.
    bool rememberedReached_ = false;
};
