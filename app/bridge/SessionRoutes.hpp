#pragma once
// The session for the page: whether there is one, saving what is open now,
// and reopening what was open last time (the folder, then each document,
// found again through its bookmark or stored path). All on io, where the
// session file, the open folder and the handles change.
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Bookmarks.hpp"
#include "core/SessionStore.hpp"

class SessionRoutes {
public:
    SessionRoutes(Responder& responder, SessionStore& session, OpenFolder& folder, FileHandles& handles,
                  Bookmarks& bookmarks);
    void addRoutes(RouteTable& table);

private:
    void getSession(const ApiRequest& request);
    void saveSession(const ApiRequest& request);
    void restoreSession(const ApiRequest& request);

    // The stored folder opened again when it is still a folder; silently
    // left closed otherwise.
    void reopenFolder(const SessionStore::Doc& folder);

    Responder& responder_;
    SessionStore& session_;
    OpenFolder& folder_;
    FileHandles& handles_;
    Bookmarks& bookmarks_;
};
