#include "app/shell/KeyEquivalent.hpp"

#include <vector>

#include "core/Characters.hpp"

namespace {

std::optional<unsigned> modifierNamed(std::string_view name) {
    if (name == "Cmd") return KeyEquivalent::command;
    if (name == "Ctrl") return KeyEquivalent::control;
    if (name == "Option") return KeyEquivalent::option;
    if (name == "Shift") return KeyEquivalent::shift;
    return std::nullopt;
}

}  // namespace

std::optional<KeyEquivalent> KeyEquivalent::parse(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t plus = text.find('+', start);
        if (plus == std::string_view::npos) plus = text.size();
        if (plus > start) pieces.push_back(text.substr(start, plus - start));
        start = plus + 1;
    }
    if (pieces.empty()) return std::nullopt;

    KeyEquivalent result;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        auto modifier = modifierNamed(pieces[i]);
        if (!modifier) return std::nullopt;
        result.modifiers |= *modifier;
    }
    std::string_view key = pieces.back();
    if (key == "Tab") {
        result.key = "\t";
    } else if (Characters::count(key) == 1) {
        result.key = Characters::lowerCased(key);
    } else {
        return std::nullopt;
    }
    return result;
}

std::string KeyEquivalent::acceleratorModifiers() const {
    std::string prefix;
    if (modifiers & command) prefix += "<Control>";
    if (modifiers & control) prefix += "<Super>";
    if (modifiers & option) prefix += "<Alt>";
    if (modifiers & shift) prefix += "<Shift>";
    return prefix;
}
