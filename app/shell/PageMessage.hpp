#pragma once
// The checks a message from the page must pass before the shell acts on it.
// The page is trusted only as far as these rules go: one key, known values,
// every size bounded, links only to the web or mail.
#include <string>

#include <nlohmann/json.hpp>

#include "app/shell/HeaderArea.hpp"

// Where a message came from, as the web process reports it.
struct MessageSource {
    bool mainFrame = false;
    // The address of the document in that frame.
    std::string frameURI;
};

struct PageMessage {
    static constexpr const char* handlerName = "quillmarsh";
    static constexpr std::size_t maxMenus = 12;
    static constexpr std::size_t maxLinkCharacters = 4095;

    enum class Kind { refused, menus, header, open };
    Kind kind = Kind::refused;
    // Kind::menus: the top-level descriptions, an array of objects.
    nlohmann::json menus;
    // Kind::header: the strip, height already clamped, malformed holes dropped.
    HeaderArea header;
    // Kind::open: the link, its scheme lower-cased.
    std::string url;

    static PageMessage check(const std::string& name, const MessageSource& source, const nlohmann::json& body);
};

// The scheme of an absolute URL, lower-cased; "" when the text does not parse
// as one (no scheme, characters a URL cannot hold, a broken %-escape).
std::string urlScheme(const std::string& text);
