#pragma once
// What version checks learnt of documents: a document whose size,
// modification time and inode are unchanged since it was last hashed keeps
// its version without being read again. Any thread.
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class VersionCache {
public:
    struct Record {
        long long size = -1;
        long long mtimeSeconds = 0;
        long long mtimeNanoseconds = 0;
        long long inode = -1;
        std::string version;
    };

    // The version remembered for `path` if the document still looks as `seen` says.
    std::optional<std::string> find(const std::string& path, const Record& seen) const;
    // Entries are only replaced.
    void remember(const std::string& path, Record record);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;
};
