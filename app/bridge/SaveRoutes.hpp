#pragma once
// PUT /api/file: the page saves a document. The main thread only finds the
// document's sequence on the save queue, so saves of one document run in the
// order the page sent them while saves of different documents run side by
// side, on a bounded pool. A per-file lock also serialises saves that name one
// file under two keys (a handle and a path).
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/FileLocks.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/Backups.hpp"
#include "core/Dispatch.hpp"

class SaveRoutes {
public:
    // `saves` runs the save jobs; `helpers` the work one save does side by side.
    SaveRoutes(Responder& responder, KeyedSerialQueue& saves, Queue& helpers, const OpenFolder& folder,
               const FileHandles& handles, FileLocks& locks, Backups& backups);
    void addRoutes(RouteTable& table);

private:
    void putFile(ApiRequest& request);
    // The save job, on the document's sequence, with the folder and the
    // handles as they were when the request arrived.
    void saveDocument(const ApiRequest& request, const std::optional<std::string>& folder,
                      const FileHandles::Map& handles);

    Responder& responder_;
    KeyedSerialQueue& saves_;
    Queue& helpers_;
    const OpenFolder& folder_;
    const FileHandles& handles_;
    FileLocks& locks_;
    Backups& backups_;
};
