#include "app/bridge/FileLocks.hpp"

#include <algorithm>

std::shared_ptr<std::mutex> FileLocks::of(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto& entry = locks_[path];
    if (auto held = entry.lock()) return held;
    auto made = std::make_shared<std::mutex>();
    entry = made;
    if (locks_.size() >= sweepAt_) {
        std::erase_if(locks_, [](const auto& item) { return item.second.expired(); });
        sweepAt_ = std::max<std::size_t>(64, locks_.size() * 2);
    }
    return made;
}

std::size_t FileLocks::size() const {
    std::lock_guard lock(mutex_);
    return locks_.size();
}
