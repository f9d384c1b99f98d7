#pragma once
// The menu bar as plain data: what the page's "menus" description turns into,
// around the fixed application menu and the Edit menu that always exists. The
// GTK side only translates this into menus, actions and accelerators, so every
// rule about the description (limits, skipping, placement) lives here where it
// can be tested without a display.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/shell/KeyEquivalent.hpp"

// What choosing an item does.
enum class MenuAction {
    none,             // separators and items that only open a submenu
    runPageMenu,      // call the page's menuRun with the item's id
    showPageAbout,    // the page's about
    standardAbout,    // the program's own about dialog (before the page sent menus)
    checkForUpdates,  // the page's checkUpdates
    showPageSettings, // the page's settings
    hide,             // hide the window
    quit,             // the quit protocol
    cut,
    copy,
    paste,
    selectAll,
};

struct MenuItem {
    enum class Kind { command, separator, submenu };
    Kind kind = Kind::command;
    // At most 200 characters of the page's label.
    std::string title;
    MenuAction action = MenuAction::none;
    // The page's id, sent back when the item is chosen (runPageMenu only).
    std::string pageId;
    bool enabled = true;
    // Check mark on or off; unset draws none.
    std::optional<bool> checked;
    std::optional<KeyEquivalent> key;
    // Submenus: the page's whole label, and the entries.
    std::string submenuTitle;
    std::vector<MenuItem> items;

    static MenuItem separator() {
        MenuItem item;
        item.kind = Kind::separator;
        return item;
    }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

struct MenuBar {
    static constexpr std::size_t maxItems = 200;
    static constexpr std::size_t maxTitleCharacters = 200;
    // Item arrays below this depth (0 is a top-level menu's items) stay empty.
    static constexpr int maxDepth = 2;

    std::vector<Menu> menus;

    // The whole bar from the page's top-level descriptions. At launch there are
    // none and no target: About shows the program's own dialog and there is no
    // Check for Updates or Settings. With a target they call into the page.
    static MenuBar buildMainMenu(const nlohmann::json& descriptions, const std::string& appName, bool withTarget);
    // Appends the entries of a page items array at the given depth.
    static void fillMenu(const nlohmann::json& entries, std::vector<MenuItem>& into, int depth);
    // Cut, Copy, Paste, Select All (with Cmd), optionally after a separator.
    static void addEditItems(std::vector<MenuItem>& into, bool separatorFirst);
    // Takes the key away from every standard Edit item whose key a page item
    // also has: the page's item gets the key, the standard item stays in the
    // menu for the mouse, unless the page's item beside it has its title too
    // (then only the page's stays). The web view's own Select All only reaches
    // the lines an editor has drawn, so the page's command must win its key.
    static void yieldKeysThePageClaims(MenuBar& bar);
};

// Whether the value is an array whose every entry is an object.
bool isArrayOfObjects(const nlohmann::json& value);
