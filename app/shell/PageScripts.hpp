#pragma once
// The scripts the shell runs in the page. Each calls an optional function of
// the page's global and does nothing when the page lacks it, so a page that
// defines none of them still works (quitting then falls back to asking the user).
#include <optional>
#include <string>

namespace PageScripts {

inline constexpr const char* quitQuery =
    "window.Quillmarsh && typeof window.Quillmarsh.quit === 'function' ? (window.Quillmarsh.quit(), 'asked') : "
    "'no-page'";
inline constexpr const char* folderChanged =
    "window.Quillmarsh && window.Quillmarsh.folderChanged && window.Quillmarsh.folderChanged()";
inline constexpr const char* openRequested =
    "window.Quillmarsh && window.Quillmarsh.openRequested && window.Quillmarsh.openRequested()";
inline constexpr const char* about = "window.Quillmarsh && window.Quillmarsh.about && window.Quillmarsh.about()";
inline constexpr const char* settings =
    "window.Quillmarsh && window.Quillmarsh.settings && window.Quillmarsh.settings()";
inline constexpr const char* checkUpdates =
    "window.Quillmarsh && window.Quillmarsh.checkUpdates && window.Quillmarsh.checkUpdates()";

// The menuRun script for a page item, or nothing when the id is not "m"
// followed only by digits and dots. The check is what makes it safe to place
// the id between the script's quotes unchanged.
std::optional<std::string> menuRun(const std::string& id);

}  // namespace PageScripts
