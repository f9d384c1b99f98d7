// Messages the page posts to the shell: any name, any frame, any JSON. What
// is let through must be one of the three kinds with its promises kept (a
// bounded menu list the menu bar builds from, a clamped header, a link to the
// web or mail only), and the menu bar must build from whatever menus pass.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include <nlohmann/json.hpp>

#include "app/shell/MenuBar.hpp"
#include "app/shell/PageMessage.hpp"
#include "core/Characters.hpp"
#include "tests/fuzz/support/ScratchFolder.hpp"

namespace {

void checkItems(const std::vector<MenuItem>& items, int depth) {
    FUZZ_CHECK(items.size() <= MenuBar::maxItems + 8, "menus are bounded");
    for (const MenuItem& item : items) {
        FUZZ_CHECK(Characters::count(item.title) <= MenuBar::maxTitleCharacters, "titles are bounded");
        if (item.kind == MenuItem::Kind::submenu) {
            FUZZ_CHECK(depth < MenuBar::maxDepth || item.items.empty(), "nesting is bounded");
            checkItems(item.items, depth + 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int nameChoice = input.ConsumeIntegralInRange<int>(0, 3);
    const std::string name = nameChoice == 0 ? input.ConsumeRandomLengthString(16) : PageMessage::handlerName;
    MessageSource source;
    source.mainFrame = input.ConsumeIntegralInRange<int>(0, 7) != 0;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: source.frameURI = input.ConsumeRandomLengthString(40); break;
        case 1: source.frameURI = "https://example.org/"; break;
        default: source.frameURI = "lornwick://app/"; break;
    }
    const std::string text = input.ConsumeRemainingBytesAsString();
    nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (body.is_discarded()) return 0;

    PageMessage message = PageMessage::check(name, source, body);
    if (message.kind == PageMessage::Kind::refused) return 0;
    FUZZ_CHECK(name == PageMessage::handlerName, "only the one handler is heard");
    FUZZ_CHECK(source.mainFrame && urlScheme(source.frameURI) == "lornwick", "only the page's own main frame");
    switch (message.kind) {
        case PageMessage::Kind::menus: {
            FUZZ_CHECK(message.menus.is_array() && message.menus.size() <= PageMessage::maxMenus,
                       "a bounded list of menus");
            for (bool withTarget : {false, true}) {
                MenuBar bar = MenuBar::buildMainMenu(message.menus, "Quillmarsh", withTarget);
                MenuBar::yieldKeysThePageClaims(bar);
                FUZZ_CHECK(bar.menus.size() <= PageMessage::maxMenus + 2, "a bounded menu bar");
                for (const Menu& menu : bar.menus) checkItems(menu.items, 0);
            }
            break;
        }
        case PageMessage::Kind::header:
            FUZZ_CHECK(message.header.height >= 0 && message.header.height <= HeaderArea::maxHeight,
                       "the header height is clamped");
            FUZZ_CHECK(message.header.holes.size() <= HeaderArea::maxHoles, "holes are bounded");
            break;
        case PageMessage::Kind::open: {
            std::string scheme = urlScheme(message.url);
            FUZZ_CHECK(scheme == "http" || scheme == "https" || scheme == "mailto", "links go to the web or mail");
            FUZZ_CHECK(message.url.compare(0, scheme.size(), scheme) == 0, "the scheme is written lower-case");
            FUZZ_CHECK(Characters::count(message.url) <= PageMessage::maxLinkCharacters, "links are bounded");
            FUZZ_CHECK(message.url.find_first_of(" \"<>\\\n\r\t") == std::string::npos, "no character a URL cannot hold");
            break;
        }
        case PageMessage::Kind::refused: break;
    }
    return 0;
}
