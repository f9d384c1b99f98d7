#include "app/shell/MenuBar.hpp"

#include <algorithm>

#include "core/Characters.hpp"

namespace {

MenuItem command(std::string title, MenuAction action, std::optional<std::string> key = std::nullopt) {
    MenuItem item;
    item.title = std::move(title);
    item.action = action;
    if (key) item.key = KeyEquivalent{*key, KeyEquivalent::command};
    return item;
}

bool isStandardEditAction(MenuAction action) {
    return action == MenuAction::cut || action == MenuAction::copy || action == MenuAction::paste ||
           action == MenuAction::selectAll;
}

void collectPageKeys(const std::vector<MenuItem>& items, std::vector<KeyEquivalent>& into) {
    for (const auto& item : items) {
        if (item.action == MenuAction::runPageMenu && item.key) into.push_back(*item.key);
        collectPageKeys(item.items, into);
    }
}

const std::string* stringMember(const nlohmann::json& object, const char* name) {
    auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return nullptr;
    return found->get_ptr<const std::string*>();
}

}  // namespace

bool isArrayOfObjects(const nlohmann::json& value) {
    if (!value.is_array()) return false;
    for (const auto& entry : value) {
        if (!entry.is_object()) return false;
    }
    return true;
}

MenuBar MenuBar::buildMainMenu(const nlohmann::json& descriptions, const std::string& appName, bool withTarget) {
    MenuBar bar;
    Menu application{appName, {}};
    application.items.push_back(
        command("About " + appName, withTarget ? MenuAction::showPageAbout : MenuAction::standardAbout));
    if (withTarget) application.items.push_back(command("Check for Updates\u2026", MenuAction::checkForUpdates));
    application.items.push_back(MenuItem::separator());
    if (withTarget) {
        application.items.push_back(command("Settings\u2026", MenuAction::showPageSettings, ","));
        application.items.push_back(MenuItem::separator());
    }
    application.items.push_back(command("Hide " + appName, MenuAction::hide, "h"));
    application.items.push_back(command("Quit " + appName, MenuAction::quit, "q"));
    bar.menus.push_back(std::move(application));

    bool hasEdit = false;
    if (descriptions.is_array()) {
        for (const auto& description : descriptions) {
            if (!description.is_object()) continue;
            const std::string* label = stringMember(description, "label");
            auto items = description.find("items");
            if (!label || items == description.end() || !isArrayOfObjects(*items)) continue;
            Menu menu{*label, {}};
            fillMenu(*items, menu.items, 0);
            if (*label == "Edit") {
                hasEdit = true;
                addEditItems(menu.items, true);
            }
            bar.menus.push_back(std::move(menu));
        }
    }
    if (!hasEdit) {
        Menu edit{"Edit", {}};
        addEditItems(edit.items, false);
        bar.menus.insert(bar.menus.begin() + 1, std::move(edit));
    }
    yieldKeysThePageClaims(bar);
    return bar;
}

void MenuBar::yieldKeysThePageClaims(MenuBar& bar) {
    std::vector<KeyEquivalent> claimed;
    for (const auto& menu : bar.menus) collectPageKeys(menu.items, claimed);
    if (claimed.empty()) return;
    for (auto& menu : bar.menus) {
        for (auto& item : menu.items) {
            if (!isStandardEditAction(item.action) || !item.key) continue;
            if (std::find(claimed.begin(), claimed.end(), *item.key) != claimed.end()) item.key.reset();
        }
        // A standard item that lost its key to a page item of the same title in
        // the same menu would be the same command twice, and the standard one
        // does it wrongly (Select All reaching only the drawn lines): only the
        // page's stays.
        std::erase_if(menu.items, [&](const MenuItem& item) {
            if (!isStandardEditAction(item.action) || item.key) return false;
            return std::any_of(menu.items.begin(), menu.items.end(), [&](const MenuItem& page) {
                return page.action == MenuAction::runPageMenu && page.key && page.title == item.title &&
                       std::find(claimed.begin(), claimed.end(), *page.key) != claimed.end();
            });
        });
    }
}

void MenuBar::fillMenu(const nlohmann::json& entries, std::vector<MenuItem>& into, int depth) {
    if (depth > maxDepth || !entries.is_array()) return;
    std::size_t taken = 0;
    for (const auto& entry : entries) {
        if (taken++ == maxItems) break;
        if (!entry.is_object()) continue;
        if (auto sep = entry.find("sep"); sep != entry.end() && sep->is_boolean() && sep->get<bool>()) {
            into.push_back(MenuItem::separator());
            continue;
        }
        const std::string* label = stringMember(entry, "label");
        const std::string* id = stringMember(entry, "id");
        if (!label || !id) continue;

        MenuItem item;
        item.title = Characters::prefix(*label, maxTitleCharacters);
        auto enabled = entry.find("enabled");
        item.enabled = !(enabled != entry.end() && enabled->is_boolean() && !enabled->get<bool>());
        if (auto checked = entry.find("checked"); checked != entry.end() && checked->is_boolean()) {
            item.checked = checked->get<bool>();
        }
        if (auto sub = entry.find("sub"); sub != entry.end() && isArrayOfObjects(*sub)) {
            item.kind = MenuItem::Kind::submenu;
            item.submenuTitle = *label;
            fillMenu(*sub, item.items, depth + 1);
            into.push_back(std::move(item));
            continue;
        }
        item.action = MenuAction::runPageMenu;
        item.pageId = *id;
        if (const std::string* key = stringMember(entry, "key")) item.key = KeyEquivalent::parse(*key);
        into.push_back(std::move(item));
    }
}

void MenuBar::addEditItems(std::vector<MenuItem>& into, bool separatorFirst) {
    if (separatorFirst) into.push_back(MenuItem::separator());
    into.push_back(command("Cut", MenuAction::cut, "x"));
    into.push_back(command("Copy", MenuAction::copy, "c"));
    into.push_back(command("Paste", MenuAction::paste, "v"));
    into.push_back(command("Select All", MenuAction::selectAll, "a"));
}
