#include "app/bridge/Bridge.hpp"
#include "core/Files.hpp"

#include <fstream>
#include <sstream>

#include "core/LogFile.hpp"
#include "core/SupportFolder.hpp"

#ifndef QUILLMARSH_DISPLAY_NAME
#define QUILLMARSH_DISPLAY_NAME "Quillmarsh"
#endif

namespace {

// The editor's build information; anything but a JSON object counts as none.
nlohmann::json readInfo(const std::string& editor) {
    std::ifstream in(editor + "/version.json", std::ios::binary);
    if (!in) return nlohmann::json::object();
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return nlohmann::json::object();
    return parsed;
}

}  // namespace

const std::string& appName() {
    // The display name is fixed when the program is built, as the platform's
    // own program information would be; "Quill Marsh" stands when none was given.
    static const std::string name = [] {
        std::string built = QUILLMARSH_DISPLAY_NAME;
        return built.empty() ? std::string("Quill Marsh") : built;
    }();
    return name;
}

Bridge::Bridge(std::string editorFolder, Platform platformServices, std::string dataHome)
    : token(makeToken()),
      editor(std::move(editorFolder)),
      platform(platformServices),
      info(readInfo(editor)),
      support(SupportFolder::find(dataHome)),
      recent(support + "/recent.json"),
      backups(backupsFolder()) {
    // Old backups go first, before any request queued on io after this.
    io.async([this] {
        int removed = backups.prune(std::chrono::system_clock::now());
        if (removed >= 1) appLog().add("backups: removed " + std::to_string(removed) + " older than 30 days");
    });
}

Bridge::~Bridge() { *alive_ = false; }

void Bridge::keepInterruptedSaves() {
    io.async([this] {
        int kept = Files::keepInterruptedSaves(backups, std::chrono::system_clock::now());
        if (kept >= 1) {
            appLog().add("save: " + std::to_string(kept) + (kept == 1 ? " copy" : " copies") +
                         " of interrupted saves kept in Backups");
        }
    });
}

std::string Bridge::productName() const {
    auto name = info.find("name");
    if (name != info.end() && name->is_string()) return name->get<std::string>();
    return appName();
}
