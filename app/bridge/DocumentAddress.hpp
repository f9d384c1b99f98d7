#pragma once
// How a request names a document, shared by reads and saves: a known file
// handle ("file"), else a path in the open folder ("path", checked by the path
// rules). An empty "file" names no document, so the path does. Safe from any
// thread on copies of the folder and the handles.
#include <optional>
#include <string>

#include "app/bridge/FileHandles.hpp"
#include "app/bridge/FileLocks.hpp"
#include "app/bridge/RequestURL.hpp"
#include "core/Files.hpp"

namespace DocumentAddress {

// The handle a request names, or none.
const std::string* handleOf(const Query& query);

// The document's path: the handle's path, or the path resolved by the path
// rules. Throws 403 (an unknown handle, a path the rules refuse).
std::string path(const Query& query, const std::optional<std::string>& folder, const FileHandles::Map& handles);

// The same document with its folder held open (see Files::Place): what reads
// and saves use. Throws 403 as `path` does.
Files::Place place(const Query& query, const std::optional<std::string>& folder, const FileHandles::Map& handles);

// The real path of a place: what its file lock is found by, so that a handle
// and a path naming one file share the lock.
std::string lockKey(const Files::Place& place);

// "f:" + handle or "p:" + path: reads of one key share one disk read, saves of
// one key share one sequence.
std::string readKey(const Query& query);

// Every read of a document by the routes: under its file lock, so a save
// writing it in place is waited for. On a disk thread.
Files::Read readUnderLock(FileLocks& locks, const Files::Place& place);

}  // namespace DocumentAddress
