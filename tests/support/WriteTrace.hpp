#pragma once
// Records what a writer asks of the file system, for as long as the object
// lives: every call of the sysCalls() table that changes a file's bytes or a
// folder's names, and every fsync, in the order they returned. The real calls
// still run; the record is what a model of a power cut replays
// (tests/core/CrashStatesTest.cpp).
//
//     WriteTrace trace;
//     store.put(...);
//     for (const auto& event : trace.events()) ...
//
// Only calls that succeeded are recorded (a failed one changed nothing), and
// only those that can change what is on storage: opens that create a file or
// cut it (O_TRUNC), writes, ftruncates, renames, links, unlinks, mkdirs,
// rmdirs and fsyncs. Closes, locks and permission changes are left out: none
// of them decides which bytes a file or a folder holds after a power cut.
//
// Names are absolute and lexically normal: a folder descriptor is resolved
// through /proc/self/fd, and AT_FDCWD through the working folder. Files are
// told apart by device and inode, since the name a write lands under may
// change before the data reaches storage.
#include "core/SysCalls.hpp"

#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
    auto operator<=>(const FileIdentity&) const = default;
};

struct TraceEvent {
    enum class Kind {
        create,    // a new empty file at `path`
        truncate,  // `file` cut or grown to `offset` bytes (ftruncate, or an open with O_TRUNC)
        write,     // `bytes` written into `file` at `offset`
        fsync,     // `file` flushed; `folder` when it is a folder (its path in `path`)
        rename,    // `path` renamed to `to` (replacing whatever was there)
        link,      // a second name `to` for the file at `path`
        unlink,    // the name `path` removed
        mkdir,     // a new folder at `path`
        rmdir,     // the folder at `path` removed
    };
    Kind kind = Kind::create;
    std::string path = {};
    std::string to = {};
    FileIdentity file = {};
    bool folder = false;
    off_t offset = 0;
    std::string bytes = {};
};

class WriteTrace {
public:
    WriteTrace();
    ~WriteTrace();
    WriteTrace(const WriteTrace&) = delete;
    WriteTrace& operator=(const WriteTrace&) = delete;

    // What was recorded so far.
    std::vector<TraceEvent> events() const;

    // One line per event, for a failure message.
    static std::string describe(const TraceEvent& event);

private:
    void add(TraceEvent event);

    SysCalls saved_;
    mutable std::mutex lock_;
    std::vector<TraceEvent> events_;
};
