#pragma once
// Documents as the page reads them: GET /api/file and POST /api/versions.
// Both start on the main thread, which only does the bookkeeping; the disk
// work runs on the concurrent disk queue and answers from there.
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/bridge/FileHandles.hpp"
#include "app/bridge/FileLocks.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "app/bridge/VersionCache.hpp"
#include "core/Files.hpp"
#include "core/Dispatch.hpp"
#include "core/Recent.hpp"

class DocumentRoutes {
public:
    DocumentRoutes(Responder& responder, Queue& disk, Queue& io, const OpenFolder& folder, const FileHandles& handles,
                   FileLocks& locks, VersionCache& versions, Recent& recent);
    void addRoutes(RouteTable& table);

    // Requests waiting for the read under way of a key; for the tests.
    std::size_t waitingFor(const std::string& key) const;
    // Whether any read is under way; for the tests.
    bool reading() const;

private:
    void getFile(const ApiRequest& request);
    void checkVersions(const ApiRequest& request);
    // The version of a document for a version check: from the cache while its
    // size, modification time and inode are unchanged, else read and hashed
    // again; "missing" or "unreadable" otherwise. What the check's batch of
    // look-ups saw at `path` stands for the document's state. On disk.
    // `place` opens the document, should it need reading.
    std::string versionOf(const std::string& path, Files::LinkCache& links, const std::function<Files::Place()>& place);

    Responder& responder_;
    Queue& disk_;
    Queue& io_;
    const OpenFolder& folder_;
    const FileHandles& handles_;
    FileLocks& locks_;
    VersionCache& versions_;
    Recent& recent_;

    // Guards reading_ and checking_; held only for their map operations,
    // never while a file is read.
    mutable std::mutex mutex_;
    // Requests waiting for the read under way of their key.
    std::map<std::string, std::vector<std::shared_ptr<SchemeTask>>> reading_;
    // A version check is under way.
    bool checking_ = false;
};
