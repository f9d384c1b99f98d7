#include "core/PathNames.hpp"

namespace PathNames {

std::string lastComponent(std::string_view path) {
    auto end = path.find_last_not_of('/');
    if (end == std::string_view::npos) return "";
    auto slash = path.rfind('/', end);
    auto start = slash == std::string_view::npos ? 0 : slash + 1;
    return std::string(path.substr(start, end + 1 - start));
}

}  // namespace PathNames
