#include "core/PathNames.hpp"

namespace PathNames {

std::string lastComponent(std::string_view path) {
    auto end = path.find_last_not_of('/');
    if (end == std::string_view::npos) return "";
    auto slash = path.rfind('/', end);
    auto start = slash == std::string_view::npos ? 0 : slash + 1;
    return std::string(path.substr(start, end + 1 - start));
}

std::string folderOf(std::string_view documentPath) {
    std::string_view path = documentPath;
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    auto slash = path.rfind('/');
    // Documents are named by absolute paths; one without a folder counts as at the root.
    if (slash == std::string_view::npos) return "/";
    path = path.substr(0, slash);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return path.empty() ? "/" : std::string(path);
}

bool holds(std::string_view outer, std::string_view inner) {
    if (outer == "/" || inner == outer) return true;
    return inner.size() > outer.size() && inner.starts_with(outer) && inner[outer.size()] == '/';
}

}  // namespace PathNames
