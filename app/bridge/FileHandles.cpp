#include "app/bridge/FileHandles.hpp"

#include "core/PathNames.hpp"

std::string FileHandles::handle(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (const auto& [name, known] : *handles_) {
        if (known == path) return name;
    }
    std::string name = "f" + std::to_string(handles_->size() + 1);
    auto next = std::make_shared<Map>(*handles_);
    (*next)[name] = path;
    handles_ = std::move(next);
    return name;
}

std::shared_ptr<const FileHandles::Map> FileHandles::current() const {
    std::lock_guard lock(mutex_);
    return handles_;
}

nlohmann::json FileHandles::chosenFile(const std::string& path) {
    return {{"file", handle(path)}, {"location", path}, {"name", PathNames::lastComponent(path)}};
}
