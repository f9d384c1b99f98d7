#include "app/shell/PageMessage.hpp"

#include <algorithm>
#include <cctype>

#include "app/bridge/SchemeNames.hpp"
#include "core/Characters.hpp"
#include "app/shell/MenuBar.hpp"

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Characters an address may hold as written: RFC 3986's unreserved and
// reserved sets and "%" for escapes. Spaces, quotes, angle brackets and
// anything beyond ASCII make the text no URL at all.
bool isURLCharacter(char c) {
    if (std::isalnum(static_cast<unsigned char>(c))) return true;
    static const std::string allowed = "-._~:/?#[]@!$&'()*+,;=%";
    return allowed.find(c) != std::string::npos;
}

bool isNumber(const nlohmann::json& value) { return value.is_number(); }

PageMessage refused() { return {}; }

PageMessage headerMessage(const nlohmann::json& value) {
    if (!value.is_object()) return refused();
    auto height = value.find("height");
    auto holes = value.find("holes");
    if (height == value.end() || !isNumber(*height)) return refused();
    if (holes == value.end() || !holes->is_array() || holes->size() > HeaderArea::maxHoles) return refused();
    for (const auto& hole : *holes) {
        if (!hole.is_array() || !std::all_of(hole.begin(), hole.end(), isNumber)) return refused();
    }
    PageMessage message;
    message.kind = PageMessage::Kind::header;
    message.header.height = std::clamp(height->get<double>(), 0.0, HeaderArea::maxHeight);
    for (const auto& hole : *holes) {
        if (hole.size() != 4) continue;
        message.header.holes.push_back({hole[0].get<double>(), hole[1].get<double>(), hole[2].get<double>(),
                                        hole[3].get<double>()});
    }
    return message;
}

PageMessage openMessage(const nlohmann::json& value) {
    if (!value.is_string()) return refused();
    const auto& text = value.get_ref<const std::string&>();
    if (Characters::count(text) > PageMessage::maxLinkCharacters) return refused();
    std::string scheme = urlScheme(text);
    if (scheme != "http" && scheme != "https" && scheme != "mailto") return refused();
    PageMessage message;
    message.kind = PageMessage::Kind::open;
    message.url = scheme + text.substr(scheme.size());
    return message;
}

}  // namespace

std::string urlScheme(const std::string& text) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return "";
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return "";
    for (std::size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return "";
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isURLCharacter(text[i])) return "";
        if (text[i] == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return "";
    }
    std::string scheme = text.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

PageMessage PageMessage::check(const std::string& name, const MessageSource& source, const nlohmann::json& body) {
    if (name != handlerName) return refused();
    if (!source.mainFrame || urlScheme(source.frameURI) != SchemeNames::scheme) return refused();
    if (!body.is_object() || body.size() != 1) return refused();
    const std::string& key = body.begin().key();
    const nlohmann::json& value = body.begin().value();
    if (key == "menus") {
        if (!isArrayOfObjects(value) || value.size() > maxMenus) return refused();
        PageMessage message;
        message.kind = Kind::menus;
        message.menus = value;
        return message;
    }
    if (key == "header") return headerMessage(value);
    if (key == "open") return openMessage(value);
    return refused();
}
