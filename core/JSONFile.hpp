#pragma once
// One small JSON document on disk holding a piece of remembered state. It never
// reports a failure: remembered state is a convenience, and losing it must
// never stop the editor. A missing or damaged file loads as nothing (the store
// then starts from its defaults); a failed save leaves the earlier file whole.
//
// No cache and no lock: every store keeps its own copy of the state and calls
// load and save from the bridge's serial io queue only.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

class JSONFile final {
public:
    // Touches no file.
    explicit JSONFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // The file's value when it can be read and parsed and its top level is an
    // object or an array; nothing otherwise.
    std::optional<nlohmann::json> load() const;

    // Replaces the file with the value, indented and with sorted keys, private to
    // the user (0600). Makes the folder first if needed. Never throws.
    void save(const nlohmann::json& value) const noexcept;

private:
    const std::string path_;
};
