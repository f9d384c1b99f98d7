#pragma once
// Recovery copies for the page: keeping the unsaved text of a document,
// listing what is kept, reading one back, clearing one, and finding where an
// entry's document lives now. All on io, where the store and the handles live.
#include "app/bridge/DocumentBookmarks.hpp"
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/KeepBody.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/RecoveryStore.hpp"

class RecoveryRoutes {
public:
    // `documentBookmarks` caches bookmarks for keeps; `bookmarks` resolves an
    // entry's bookmark when it is opened.
    RecoveryRoutes(Responder& responder, RecoveryStore& recovery, OpenFolder& folder, FileHandles& handles,
                   DocumentBookmarks& documentBookmarks, Bookmarks& bookmarks);
    void addRoutes(RouteTable& table);

    // The longest name and base an entry keeps, in user-perceived characters.
    static constexpr std::size_t maxName = 255;
    static constexpr std::size_t maxBase = 128;

private:
    void keep(const ApiRequest& request);
    void list(const ApiRequest& request);
    void text(const ApiRequest& request);
    void clear(const ApiRequest& request);
    void open(const ApiRequest& request);

    // The absolute path of the document a keep names, if any; throws the
    // path rules' refusal.
    std::optional<std::string> documentOf(const KeepBody& body) const;

    Responder& responder_;
    RecoveryStore& recovery_;
    OpenFolder& folder_;
    FileHandles& handles_;
    DocumentBookmarks& documentBookmarks_;
    Bookmarks& bookmarks_;
};
