// Open and save panels, and documents given to the program by the file
// manager. The page never names a path outside the open folder itself: what
// the user picks comes back as a file handle with a path and name to show.
#include <sys/stat.h>
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "app/bridge/Bridge.hpp"
#include "core/BridgeError.hpp"
#include "core/Files.hpp"
#include "core/LogFile.hpp"
#include "core/UTF8.hpp"

namespace {

// The longest name the save panel is given at first, in user-perceived characters.
constexpr int32_t kSuggestedNameMax = 200;

std::string lastComponent(const std::string& path) {
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
    auto slash = trimmed.rfind('/');
    if (slash == std::string_view::npos || trimmed.size() == 1) return std::string(trimmed);
    return std::string(trimmed.substr(slash + 1));
}

// The first `count` user-perceived characters: a letter with its accents or an
// emoji with its modifiers is never cut in two.
std::string firstCharacters(const std::string& text, int32_t count) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return text;
    characters->setText(unicode);
    int32_t end = characters->first();
    for (int32_t taken = 0; taken < count; ++taken) {
        int32_t next = characters->next();
        if (next == icu::BreakIterator::DONE) return text;
        end = next;
    }
    std::string cut;
    unicode.tempSubString(0, end).toUTF8String(cut);
    return cut;
}

std::optional<std::string> queryItem(const Query& query, const char* name) {
    auto found = query.find(name);
    if (found == query.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> asBookmark(std::string bookmark) {
    if (bookmark.empty()) return std::nullopt;
    return bookmark;
}

}  // namespace

nlohmann::json Bridge::chosenFile(const std::string& path) {
    return {{"file", handle(path)}, {"location", path}, {"name", lastComponent(path)}};
}

void Bridge::runPanel(const std::shared_ptr<SchemeTask>& task, PanelOptions options,
                      std::function<nlohmann::json(const PanelResult&)> completion) {
    platform.main.post([this, alive = alive_, task, options = std::move(options),
                        completion = std::move(completion)]() mutable {
        if (!*alive) return;
        platform.panels.runPanel(options, [this, alive, task, completion = std::move(completion)](PanelResult result) {
            if (!*alive) return;
            io.async([this, task, completion, result = std::move(result)] {
                answering(task, [&] { sendJSON(task, 200, completion(result)); });
            });
        });
    });
}

void Bridge::chooseFolder(const ApiRequest& request) {
    PanelOptions options;
    options.files = false;
    options.folders = true;
    if (auto start = queryItem(request.query, "start"); start && start->starts_with("/")) options.startFolder = *start;
    options.message = "Choose a folder of Markdown documents for " + appName();
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (result.chosen && !result.paths.empty()) {
            openFolder(result.paths.front());
            return {{"cancelled", false}, {"folder", result.paths.front()}};
        }
        return {{"cancelled", true}, {"folder", root ? nlohmann::json(*root) : nlohmann::json(nullptr)}};
    });
}

void Bridge::chooseFiles(const ApiRequest& request) {
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
            platform.bookmarks.enterScope(path);
            recent.add("file", path, asBookmark(platform.bookmarks.make(path)));
            files.push_back(chosenFile(path));
        }
        return {{"cancelled", false}, {"files", files}};
    });
}

void Bridge::chooseFile(const ApiRequest& request) {
    PanelOptions options;
    options.extensions = {"md", "markdown"};
    options.message = "Choose a Markdown document to open in " + appName();
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (!result.chosen || result.paths.empty()) return {{"cancelled", true}};
        const std::string& path = result.paths.front();
        UTF8::checkFileName(path);
        platform.bookmarks.enterScope(path);
        recent.add("file", path, asBookmark(platform.bookmarks.make(path)));
        nlohmann::json answer = chosenFile(path);
        answer["cancelled"] = false;
        return answer;
    });
}

void Bridge::chooseSave(const ApiRequest& request) {
    PanelOptions options;
    options.kind = PanelOptions::Kind::save;
    auto name = queryItem(request.query, "name");
    options.suggestedName = name ? firstCharacters(*name, kSuggestedNameMax) : "Untitled.md";
    options.extensions = {"md"};
    options.message = "Save the document as";
    runPanel(request.task, options, [this](const PanelResult& result) -> nlohmann::json {
        if (!result.chosen || result.paths.empty()) return {{"cancelled", true}};
        std::string path = result.paths.front();
        if (!Files::isMarkdown(lastComponent(path))) path += ".md";
        UTF8::checkFileName(path);
        platform.bookmarks.enterScope(path);
        // Nothing is written here: the page saves through PUT /api/file with the handle.
        struct stat info;
        nlohmann::json answer = chosenFile(path);
        answer["cancelled"] = false;
        answer["exists"] = ::stat(path.c_str(), &info) == 0;
        return answer;
    });
}

void Bridge::handOverFromFinder(std::vector<std::string> paths) {
    disk.async([this, alive = alive_, paths = std::move(paths)] {
        std::vector<std::pair<std::string, std::optional<std::string>>> accepted;
        long long skipped = 0;
        for (const auto& path : paths) {
            struct stat info;
            // A name that is not UTF-8 could be neither described to the page
            // nor kept in Open Recent: left out like the rest.
            bool document = path.starts_with("/") && UTF8::isValid(path) && Files::isMarkdown(lastComponent(path)) &&
                            ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
            if (!document) {
                ++skipped;
                continue;
            }
            platform.bookmarks.enterScope(path);
            accepted.emplace_back(path, asBookmark(platform.bookmarks.make(path)));
        }
        io.async([this, alive, accepted = std::move(accepted), skipped] {
            finderSkipped += skipped;
            for (const auto& [path, bookmark] : accepted) {
                recent.add("file", path, bookmark);
                if (std::find(fromFinder.begin(), fromFinder.end(), path) == fromFinder.end()) {
                    fromFinder.push_back(path);
                }
            }
            appLog().add("finder: " + std::to_string(fromFinder.size()) + " to open, " +
                         std::to_string(finderSkipped) + " left out");
            platform.main.post([this, alive] {
                if (*alive && onOpenRequested) onOpenRequested();
            });
        });
    });
}

nlohmann::json Bridge::describeDocument(const std::string& path) {
    std::string resolved = Files::realPath(path);
    if (root && resolved.starts_with(*root + "/")) {
        std::string relative = resolved.substr(root->size() + 1);
        try {
            Files::lexical(relative, root);
            return {{"path", relative}, {"location", resolved}, {"name", lastComponent(resolved)}};
        } catch (const BridgeError&) {
            // A hidden or private place inside the folder: the page gets a handle instead.
        }
    }
    return chosenFile(path);
}

void Bridge::opened(const ApiRequest& request) {
    nlohmann::json files = nlohmann::json::array();
    for (const auto& path : fromFinder) files.push_back(describeDocument(path));
    long long skipped = finderSkipped;
    fromFinder.clear();
    finderSkipped = 0;
    sendJSON(request.task, 200, {{"files", files}, {"skipped", skipped}});
}
