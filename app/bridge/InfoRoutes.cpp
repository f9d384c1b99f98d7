// Small endpoints about the program itself, and the quit request.
#include <sys/utsname.h>

#include <fstream>
#include <sstream>

#include "app/bridge/Bridge.hpp"
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

void Bridge::getBuild(const ApiRequest& request) {
    sendJSON(request.task, 200,
             {{"name", infoOr(info, "name", appName())},
              {"version", infoOr(info, "version", "")},
              {"build", infoOr(info, "build", "unknown")},
              {"support", infoOr(info, "support", "")},
              {"feedback", infoOr(info, "feedback", "")},
              {"os", "Linux " + systemVersion()}});
}

void Bridge::getAbout(const ApiRequest& request) {
    nlohmann::json about = nlohmann::json::object();
    if (auto text = readFile(editor + "/about.json")) {
        auto parsed = nlohmann::json::parse(*text, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object()) about = std::move(parsed);
    }
    // Each member comes from the build information; one it lacks is removed,
    // so about.json cannot pose as the build.
    const std::pair<const char*, const char*> fromInfo[] = {
        {"name", "name"}, {"version", "version"}, {"commit", "build"}};
    for (auto [member, key] : fromInfo) {
        auto found = info.find(key);
        if (found == info.end()) about.erase(member);
        else about[member] = *found;
    }
    about["license"] = licenseText;
    if (auto found = info.find("support"); found == info.end()) about.erase("support");
    else about["support"] = *found;
    sendJSON(request.task, 200, about);
}

void Bridge::getChangelog(const ApiRequest& request) {
    std::string text = readFile(editor + "/CHANGELOG.md").value_or("");
    if (!UTF8::isValid(text)) text.clear();
    sendJSON(request.task, 200, {{"version", infoOr(info, "version", "")}, {"text", text}});
}

void Bridge::showBackups(const ApiRequest& request) {
    std::string folder = backupsFolder();
    FileWrite::makeFolders(folder);  // a failure still shows where backups would be
    platform.main.post([alive = alive_, workspace = &platform.workspace, folder] {
        if (*alive) workspace->openFolder(folder);
    });
    sendJSON(request.task, 200, {{"text", "Backups are kept for 30 days."}});
}

void Bridge::quit(const ApiRequest& request) {
    sendJSON(request.task, 200, {{"stopping", true}});
    platform.main.post([this, alive = alive_] {
        if (*alive && onQuit) onQuit();
    });
}
