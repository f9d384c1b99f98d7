#include "app/bridge/InfoRoutes.hpp"

#include <sys/utsname.h>

#include <fstream>
#include <sstream>

#include "app/bridge/ProgramName.hpp"
#include "core/FileWrite.hpp"
#include "core/UTF8.hpp"

namespace {

const char* const licenseText = "Copyright \u00a9 2026 the Quillmarsh developers. All rights reserved.";

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The value as stored, or `fallback` when version.json lacks it.
nlohmann::json infoOr(const nlohmann::json& info, const char* key, nlohmann::json fallback) {
    auto found = info.find(key);
    return found == info.end() ? fallback : *found;
}

std::string systemVersion() {
    struct utsname name {};
    if (::uname(&name) != 0) return "";
    return name.release;
}

}  // namespace

InfoRoutes::InfoRoutes(Responder& responder, Workspace& workspace, std::string editor, const nlohmann::json& info,
                       std::string backupsFolder, std::function<void()> quit)
    : responder_(responder),
      workspace_(workspace),
      editor_(std::move(editor)),
      info_(info),
      backupsFolder_(std::move(backupsFolder)),
      quit_(std::move(quit)) {}

void InfoRoutes::addRoutes(RouteTable& table) {
    table.add("GET", "/api/build", StartOn::io, [this](ApiRequest& request) { getBuild(request); });
    table.add("GET", "/api/about", StartOn::io, [this](ApiRequest& request) { getAbout(request); });
    table.add("GET", "/api/changelog", StartOn::io, [this](ApiRequest& request) { getChangelog(request); });
    table.add("POST", "/api/backups/show", StartOn::io, [this](ApiRequest& request) { showBackups(request); });
    table.add("POST", "/api/quit", StartOn::main, [this](ApiRequest& request) { quit(request); });
}

void InfoRoutes::getBuild(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200,
             {{"name", infoOr(info_, "name", appName())},
              {"version", infoOr(info_, "version", "")},
              {"build", infoOr(info_, "build", "unknown")},
              {"support", infoOr(info_, "support", "")},
              {"feedback", infoOr(info_, "feedback", "")},
              {"os", "Linux " + systemVersion()}});
}

void InfoRoutes::getAbout(const ApiRequest& request) {
    nlohmann::json about = nlohmann::json::object();
    if (auto text = readFile(editor_ + "/about.json")) {
        auto parsed = nlohmann::json::parse(*text, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object()) about = std::move(parsed);
    }
    // Each member comes from the build information; one it lacks is removed,
    // so about.json cannot pose as the build.
    const std::pair<const char*, const char*> fromInfo[] = {
        {"name", "name"}, {"version", "version"}, {"commit", "build"}};
    for (auto [member, key] : fromInfo) {
        auto found = info_.find(key);
        if (found == info_.end()) about.erase(member);
        else about[member] = *found;
    }
    about["license"] = licenseText;
    if (auto found = info_.find("support"); found == info_.end()) about.erase("support");
    else about["support"] = *found;
    responder_.sendJSON(request.task, 200, about);
}

void InfoRoutes::getChangelog(const ApiRequest& request) {
    std::string text = readFile(editor_ + "/CHANGELOG.md").value_or("");
    if (!UTF8::isValid(text)) text.clear();
    responder_.sendJSON(request.task, 200, {{"version", infoOr(info_, "version", "")}, {"text", text}});
}

void InfoRoutes::showBackups(const ApiRequest& request) {
    FileWrite::makeFolders(backupsFolder_);  // a failure still shows where backups would be
    responder_.onMain([this] { workspace_.openFolder(backupsFolder_); });
    responder_.sendJSON(request.task, 200, {{"text", "Backups are kept for 30 days."}});
}

void InfoRoutes::quit(const ApiRequest& request) {
    responder_.sendJSON(request.task, 200, {{"stopping", true}});
    responder_.onMain(quit_);
}
