// The menu bar built from the page's description: the fixed application
// menu, the Edit menu's placement, and what is skipped or cut.
#include "app/shell/MenuBar.hpp"

#include <gtest/gtest.h>

#include "core/Characters.hpp"

namespace {

using nlohmann::json;

std::vector<std::string> titles(const std::vector<MenuItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.kind == MenuItem::Kind::separator ? "-" : item.title);
    return out;
}

std::vector<std::string> menuTitles(const MenuBar& bar) {
    std::vector<std::string> out;
    for (const auto& menu : bar.menus) out.push_back(menu.title);
    return out;
}

const std::vector<std::string> editItems = {"Cut", "Copy", "Paste", "Select All"};

TEST(MenuBar, LaunchFormHasTheApplicationMenuAndTheStandardEditMenu) {
    MenuBar bar = MenuBar::buildMainMenu(json::array(), "Q", false);
    ASSERT_EQ(menuTitles(bar), (std::vector<std::string>{"Q", "Edit"}));
    const auto& app = bar.menus[0].items;
    EXPECT_EQ(titles(app), (std::vector<std::string>{"About Q", "-", "Hide Q", "Quit Q"}));
    EXPECT_EQ(app[0].action, MenuAction::standardAbout);
    EXPECT_EQ(app[2].action, MenuAction::hide);
    EXPECT_EQ(app[2].key, (KeyEquivalent{"h", KeyEquivalent::command}));
    EXPECT_EQ(app[3].action, MenuAction::quit);
    EXPECT_EQ(app[3].key, (KeyEquivalent{"q", KeyEquivalent::command}));

    const auto& edit = bar.menus[1].items;
    EXPECT_EQ(titles(edit), editItems);
    const MenuAction actions[] = {MenuAction::cut, MenuAction::copy, MenuAction::paste, MenuAction::selectAll};
    const char* keys[] = {"x", "c", "v", "a"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(edit[i].action, actions[i]);
        EXPECT_EQ(edit[i].key, (KeyEquivalent{keys[i], KeyEquivalent::command}));
    }
}

TEST(MenuBar, PageFormCallsIntoThePageAndKeepsItsMenusInOrder) {
    json menus = json::parse(R"([
        {"label": "File", "items": [{"label": "Open", "id": "m1.1", "key": "Cmd+O"}]},
        {"label": "View", "items": []},
        {"label": "Help", "items": [{"label": "Guide", "id": "m3.1"}]}
    ])");
    MenuBar bar = MenuBar::buildMainMenu(menus, "Q", true);
    EXPECT_EQ(menuTitles(bar), (std::vector<std::string>{"Q", "Edit", "File", "View", "Help"}));
    const auto& app = bar.menus[0].items;
    EXPECT_EQ(titles(app),
              (std::vector<std::string>{"About Q", "Check for Updates\u2026", "-", "Settings\u2026", "-", "Hide Q",
                                        "Quit Q"}));
    EXPECT_EQ(app[0].action, MenuAction::showPageAbout);
    EXPECT_EQ(app[1].action, MenuAction::checkForUpdates);
    EXPECT_FALSE(app[1].key);
    EXPECT_EQ(app[3].action, MenuAction::showPageSettings);
    EXPECT_EQ(app[3].key, (KeyEquivalent{",", KeyEquivalent::command}));

    const auto& open = bar.menus[2].items.at(0);
    EXPECT_EQ(open.action, MenuAction::runPageMenu);
    EXPECT_EQ(open.pageId, "m1.1");
    EXPECT_EQ(open.key, (KeyEquivalent{"o", KeyEquivalent::command}));
}

TEST(MenuBar, ThePagesEditMenuGetsTheStandardItemsAfterASeparator) {
    json menus = json::parse(R"([
        {"label": "File", "items": []},
        {"label": "Edit", "items": [{"label": "Undo", "id": "m2.1"}]}
    ])");
    MenuBar bar = MenuBar::buildMainMenu(menus, "Q", true);
    EXPECT_EQ(menuTitles(bar), (std::vector<std::string>{"Q", "File", "Edit"}));
    std::vector<std::string> expected = {"Undo", "-"};
    expected.insert(expected.end(), editItems.begin(), editItems.end());
    EXPECT_EQ(titles(bar.menus[2].items), expected);
}

TEST(MenuBar, MalformedTopLevelMenusAreSkipped) {
    json menus = json::parse(R"([
        {"label": "NoItems"},
        {"items": []},
        {"label": 7, "items": []},
        {"label": "ItemsNotArray", "items": {}},
        {"label": "ItemsNotObjects", "items": [1]},
        {"label": "edit", "items": []},
        {"label": "Kept", "items": []}
    ])");
    MenuBar bar = MenuBar::buildMainMenu(menus, "Q", true);
    // "edit" is not "Edit": it stays a menu of its own, and the standard one is inserted.
    EXPECT_EQ(menuTitles(bar), (std::vector<std::string>{"Q", "Edit", "edit", "Kept"}));
}

TEST(MenuBar, FillMenuSkipsEntriesWithoutLabelOrId) {
    json items = json::parse(R"([
        {"label": "NoId"},
        {"id": "m1"},
        {"label": "WithSubButNoId", "sub": [{"label": "Child", "id": "m1.1"}]},
        {"label": "NumericId", "id": 3},
        {"sep": "yes"},
        {"sep": true, "label": "ignored", "id": "m2"},
        {"label": "Kept", "id": "m3"}
    ])");
    std::vector<MenuItem> menu;
    MenuBar::fillMenu(items, menu, 0);
    EXPECT_EQ(titles(menu), (std::vector<std::string>{"-", "Kept"}));
}

TEST(MenuBar, ItemStates) {
    json items = json::parse(R"([
        {"label": "Plain", "id": "m1"},
        {"label": "Off", "id": "m2", "enabled": false, "checked": false},
        {"label": "On", "id": "m3", "enabled": "no", "checked": true},
        {"label": "NotABool", "id": "m4", "checked": 1, "key": "Cmd+Alt+K"}
    ])");
    std::vector<MenuItem> menu;
    MenuBar::fillMenu(items, menu, 0);
    ASSERT_EQ(menu.size(), 4u);
    EXPECT_TRUE(menu[0].enabled);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_FALSE(menu[1].enabled);
    EXPECT_EQ(menu[1].checked, false);
    EXPECT_TRUE(menu[2].enabled);  // another type counts as the default
    EXPECT_EQ(menu[2].checked, true);
    EXPECT_FALSE(menu[3].checked);
    EXPECT_FALSE(menu[3].key);  // a key that does not parse leaves none
}

TEST(MenuBar, AtMostTwoHundredEntriesAndTitlesOfTwoHundredCharacters) {
    json items = json::array();
    for (int i = 0; i < 250; ++i) items.push_back({{"label", "item " + std::to_string(i)}, {"id", "m1"}});
    std::vector<MenuItem> menu;
    MenuBar::fillMenu(items, menu, 0);
    ASSERT_EQ(menu.size(), 200u);
    EXPECT_EQ(menu.back().title, "item 199");

    // 300 characters of two code points each: the cut falls between characters.
    std::string label;
    for (int i = 0; i < 300; ++i) label += "e\u0301";
    menu.clear();
    MenuBar::fillMenu(json::array({{{"label", label}, {"id", "m1"}, {"sub", json::array()}}}), menu, 0);
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_EQ(Characters::count(menu[0].title), 200u);
    EXPECT_EQ(menu[0].title.size(), label.size() * 2 / 3);
    EXPECT_EQ(menu[0].submenuTitle, label);  // the submenu keeps the whole label
}

TEST(MenuBar, SubmenusNestThreeLevelsAndTakeNoKey) {
    json items = json::parse(R"([
        {"label": "L1", "id": "m1", "key": "Cmd+K", "sub": [
            {"label": "L2", "id": "m1.1", "sub": [
                {"label": "L3", "id": "m1.1.1", "sub": [{"label": "L4", "id": "m1.1.1.1"}]},
                {"label": "Leaf", "id": "m1.1.2"}
            ]}
        ]},
        {"label": "SubOfNonObjects", "id": "m2", "sub": [1, 2]}
    ])");
    std::vector<MenuItem> menu;
    MenuBar::fillMenu(items, menu, 0);
    ASSERT_EQ(menu.size(), 2u);
    const MenuItem& l1 = menu[0];
    EXPECT_EQ(l1.kind, MenuItem::Kind::submenu);
    EXPECT_EQ(l1.action, MenuAction::none);
    EXPECT_FALSE(l1.key);
    const MenuItem& l3 = l1.items.at(0).items.at(0);
    EXPECT_EQ(l3.title, "L3");
    EXPECT_EQ(l3.kind, MenuItem::Kind::submenu);
    EXPECT_TRUE(l3.items.empty());  // a fourth level is never filled
    EXPECT_EQ(l1.items.at(0).items.at(1).pageId, "m1.1.2");

    // A "sub" that is not an array of objects makes an ordinary item.
    EXPECT_EQ(menu[1].kind, MenuItem::Kind::command);
    EXPECT_EQ(menu[1].pageId, "m2");
}

// The keys the standard Edit items keep once the page has sent its menus,
// in the order Cut, Copy, Paste, Select All ("" for none).
std::vector<std::string> standardEditKeys(const MenuBar& bar) {
    std::vector<std::string> keys;
    for (const auto& menu : bar.menus) {
        for (const auto& item : menu.items) {
            bool standard = item.action == MenuAction::cut || item.action == MenuAction::copy ||
                            item.action == MenuAction::paste || item.action == MenuAction::selectAll;
            if (standard) keys.push_back(item.key ? item.key->acceleratorModifiers() + item.key->key : "");
        }
    }
    return keys;
}

TEST(MenuBar, KeysThePageDeclaresRunThePagesItemsNotTheStandardEditCommands) {
    const std::vector<std::string> allKept = {"<Control>x", "<Control>c", "<Control>v", "<Control>a"};
    struct Case {
        const char* what;
        const char* menus;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"launch form: nothing claimed", "[]", allKept},
        {"page's own Edit menu claims Select All and Copy under their titles: only the page's stay",
         R"([{"label": "Edit", "items": [{"label": "Select All", "id": "m2.1", "key": "Cmd+A"},
                                          {"label": "Copy", "id": "m2.2", "key": "Cmd+C"},
                                          {"label": "Undo", "id": "m2.3", "key": "Cmd+Z"}]}])",
         {"<Control>x", "<Control>v"}},
        {"a claim in another menu's submenu, or on a disabled item, still counts",
         R"([{"label": "Format", "items": [{"label": "More", "id": "m3", "sub": [
                {"label": "Paste Plain", "id": "m3.1", "key": "Cmd+V", "enabled": false}]}]}])",
         {"<Control>x", "<Control>c", "", "<Control>a"}},
        {"other modifiers on the same letter are other keys",
         R"([{"label": "Edit", "items": [{"label": "A", "id": "m2.1", "key": "Cmd+Shift+A"},
                                          {"label": "B", "id": "m2.2", "key": "Ctrl+A"},
                                          {"label": "C", "id": "m2.3", "key": "A"}]}])",
         allKept},
        {"a key that does not parse claims nothing",
         R"([{"label": "Edit", "items": [{"label": "A", "id": "m2.1", "key": "Cmd+Alt+A"}]}])", allKept},
        {"a submenu's own key is ignored, so it claims nothing",
         R"([{"label": "Edit", "items": [{"label": "S", "id": "m2", "key": "Cmd+A", "sub": []}]}])", allKept},
    };
    for (const auto& c : cases) {
        MenuBar bar = MenuBar::buildMainMenu(json::parse(c.menus), "Q", true);
        EXPECT_EQ(standardEditKeys(bar), c.keys) << c.what;
    }

    // The page's item keeps the key it declared, and the fixed application keys are untouched.
    MenuBar bar = MenuBar::buildMainMenu(
        json::parse(R"([{"label": "Edit", "items": [{"label": "Select All", "id": "m2.1", "key": "Cmd+A"}]}])"), "Q",
        true);
    const auto& edit = bar.menus.at(1);
    ASSERT_EQ(edit.title, "Edit");
    EXPECT_EQ(edit.items.at(0).key, (KeyEquivalent{"a", KeyEquivalent::command}));
    EXPECT_EQ(bar.menus[0].items.back().key, (KeyEquivalent{"q", KeyEquivalent::command}));
    EXPECT_EQ(titles(edit.items), (std::vector<std::string>{"Select All", "-", "Cut", "Copy", "Paste"}));

    // A claiming item of another title, or in another menu, leaves the standard item in place for the mouse.
    for (const char* menus : {R"([{"label": "Edit", "items": [{"label": "Everything", "id": "m2.1", "key": "Cmd+A"}]}])",
                              R"([{"label": "Edit", "items": []},
                                  {"label": "View", "items": [{"label": "Select All", "id": "m3.1", "key": "Cmd+A"}]}])"}) {
        MenuBar other = MenuBar::buildMainMenu(json::parse(menus), "Q", true);
        const auto& items = other.menus.at(1).items;
        EXPECT_EQ(titles(items).back(), "Select All") << menus;
        EXPECT_FALSE(items.back().key.has_value()) << menus;
    }
}

}  // namespace
