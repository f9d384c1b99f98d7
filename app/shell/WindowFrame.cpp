#include "app/shell/WindowFrame.hpp"

#include <algorithm>

#include "core/JSONFile.hpp"
#include "core/UserFolders.hpp"

namespace {

// An integer member within the range any screen could have; nothing otherwise.
std::optional<int> coordinate(const nlohmann::json& object, const char* name) {
    auto found = object.find(name);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    auto value = found->get<long long>();
    if (value < -100000 || value > 100000) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<WindowFrame> WindowFrame::load(const std::string& path) {
    auto stored = JSONFile(path).load();
    if (!stored || !stored->is_object()) return std::nullopt;
    auto width = coordinate(*stored, "width");
    auto height = coordinate(*stored, "height");
    if (!width || !height) return std::nullopt;
    WindowFrame frame;
    frame.width = std::max(*width, minWidth);
    frame.height = std::max(*height, minHeight);
    frame.x = coordinate(*stored, "x");
    frame.y = coordinate(*stored, "y");
    if (!frame.x || !frame.y) frame.x = frame.y = std::nullopt;
    return frame;
}

void WindowFrame::save(const std::string& path) const {
    nlohmann::json value = {{"width", width}, {"height", height}};
    if (x && y) {
        value["x"] = *x;
        value["y"] = *y;
    }
    JSONFile(path).save(value);
}

std::string WindowFrame::defaultPath() {
    std::string state = UserFolders::stateHome();
    return state.empty() ? std::string() : state + "/Quillmarsh/window.json";
}
