#include "app/shell/PageScripts.hpp"

namespace PageScripts {

std::optional<std::string> menuRun(const std::string& id) {
    if (id.size() < 2 || id[0] != 'm') return std::nullopt;
    for (std::size_t i = 1; i < id.size(); ++i) {
        if (!(id[i] >= '0' && id[i] <= '9') && id[i] != '.') return std::nullopt;
    }
    return "window.Quillmarsh && window.Quillmarsh.menuRun && window.Quillmarsh.menuRun('" + id + "')";
}

}  // namespace PageScripts
