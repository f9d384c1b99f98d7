#include "app/bridge/PanelRoutes.hpp"

#include <sys/stat.h>

#include "core/PathNames.hpp"
#include "app/bridge/PanelRunner.hpp"
#include "app/bridge/ProgramName.hpp"
#include "core/BridgeError.hpp"
#include "core/Characters.hpp"
#include "core/Files.hpp"
#include "core/UTF8.hpp"

namespace {

// The longest name the save panel is given at first, in user-perceived characters.
constexpr std::size_t suggestedNameMax = 200;

}  // namespace

PanelRoutes::PanelRoutes(Responder& responder, Queue& io, Panels& panels, Bookmarks& bookmarks, OpenFolder& folder,
                         FileHandles& handles, Recent& recent)
    : responder_(responder),
      io_(io),
      panels_(panels),
      bookmarks_(bookmarks),
      folder_(folder),
      handles_(handles),
      recent_(recent) {}

void PanelRoutes::addRoutes(RouteTable& table) {
    table.add("POST", "/api/choose-folder", StartOn::io, [this](ApiRequest& request) { chooseFolder(request); });
    table.add("POST", "/api/choose-files", StartOn::io, [this](ApiRequest& request) { chooseFiles(request); });
    table.add("POST", "/api/choose-file", StartOn::io, [this](ApiRequest& request) { chooseFile(request); });
    table.add("POST", "/api/choose-save", StartOn::io, [this](ApiRequest& request) { chooseSave(request); });
}

void PanelRoutes::runPanel(const std::shared_ptr<SchemeTask>& task, PanelOptions options,
                           std::function<nlohmann::json(const PanelResult&)> completion) {
    ::runPanel(responder_, io_, panels_, task, std::move(options), std::move(completion));
}

void PanelRoutes::chooseFolder(const ApiRequest& request) {
    PanelOptions options;
    options.files = false;
    options.folders = true;
    if (const std::string* start = request.item("start"); start && start->starts_with("/")) {
        options.startFolder = *start;
    }
    options.message = "Choose a folder of Markdown documents for " + appName();
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (result.chosen && !result.paths.empty()) {
            folder_.open(result.paths.front());
            return {{"cancelled", false}, {"folder", result.paths.front()}};
        }
        auto open = folder_.current();
        return {{"cancelled", true}, {"folder", open ? nlohmann::json(*open) : nlohmann::json(nullptr)}};
    });
}

void PanelRoutes::chooseFiles(const ApiRequest& request) {
    PanelOptions options;
    options.multiple = true;
    options.extensions = {"md", "markdown"};
    options.message = "Choose Markdown documents to open in " + appName();
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (!result.chosen || result.paths.empty()) return {{"cancelled", true}, {"files", nlohmann::json::array()}};
        // All before any: a refusal leaves none of them opened or remembered.
        for (const auto& path : result.paths) UTF8::checkFileName(path);
        nlohmann::json files = nlohmann::json::array();
        for (const auto& path : result.paths) {
            bookmarks_.enterScope(path);
            recent_.add("file", path, bookmarkOrNone(bookmarks_.make(path)));
            files.push_back(handles_.chosenFile(path));
        }
        return {{"cancelled", false}, {"files", files}};
    });
}

void PanelRoutes::chooseFile(const ApiRequest& request) {
    PanelOptions options;
    options.extensions = {"md", "markdown"};
    options.message = "Choose a Markdown document to open in " + appName();
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (!result.chosen || result.paths.empty()) return {{"cancelled", true}};
        const std::string& path = result.paths.front();
        UTF8::checkFileName(path);
        bookmarks_.enterScope(path);
        recent_.add("file", path, bookmarkOrNone(bookmarks_.make(path)));
        nlohmann::json answer = handles_.chosenFile(path);
        answer["cancelled"] = false;
        return answer;
    });
}

void PanelRoutes::chooseSave(const ApiRequest& request) {
    PanelOptions options;
    options.kind = PanelOptions::Kind::save;
    const std::string* name = request.item("name");
    options.suggestedName = name ? Characters::prefix(*name, suggestedNameMax) : "Untitled.md";
    options.extensions = {"md"};
    options.message = "Save the document as";
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (!result.chosen || result.paths.empty()) return {{"cancelled", true}};
        std::string path = result.paths.front();
        if (!Files::isMarkdown(PathNames::lastComponent(path))) path += ".md";
        UTF8::checkFileName(path);
        bookmarks_.enterScope(path);
        // Nothing is written here: the page saves through PUT /api/file with the handle.
        struct stat info;
        nlohmann::json answer = handles_.chosenFile(path);
        answer["cancelled"] = false;
        answer["exists"] = ::stat(path.c_str(), &info) == 0;
        return answer;
    });
}
