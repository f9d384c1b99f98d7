#include "app/bridge/VersionCache.hpp"

std::optional<std::string> VersionCache::find(const std::string& path, const Record& seen) const {
    std::lock_guard lock(mutex_);
    auto found = records_.find(path);
    if (found == records_.end()) return std::nullopt;
    const Record& known = found->second;
    if (known.size != seen.size || known.mtimeSeconds != seen.mtimeSeconds ||
        known.mtimeNanoseconds != seen.mtimeNanoseconds || known.inode != seen.inode) {
        return std::nullopt;
    }
    return known.version;
}

void VersionCache::remember(const std::string& path, Record record) {
    std::lock_guard lock(mutex_);
    records_[path] = std::move(record);
}
