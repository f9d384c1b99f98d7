#pragma once
// Puts a MenuBar on the screen: a GMenu model for the window's menu bar, one
// application action per item (so each item keeps its own enabled and check
// state) and the accelerators of the items' keys. Rebuilt whole each time.
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "app/shell/MenuBar.hpp"

class GtkMenus {
public:
    // What choosing an item does; the page id is set for runPageMenu.
    using Handler = std::function<void(MenuAction, const std::string& pageId)>;

    GtkMenus(GtkApplication* application, Handler handler);
    ~GtkMenus();
    GtkMenus(const GtkMenus&) = delete;
    GtkMenus& operator=(const GtkMenus&) = delete;

    // Replaces the whole menu bar and every action and accelerator of the previous one.
    void install(const MenuBar& bar);

    // One model for the life of the program, refilled by install: a menu bar
    // widget follows its model's changes, not a model replaced under it.
    GMenuModel* model() const { return G_MENU_MODEL(bar_); }

    // The GTK accelerator for a key ("<Control><Shift>z"), or "" when the key
    // has no key symbol of its own.
    static std::string accelerator(const KeyEquivalent& key);

private:
    struct Binding {
        GtkMenus* menus;
        MenuAction action;
        std::string pageId;
    };
    static void activated(GSimpleAction* action, GVariant* parameter, gpointer binding) noexcept;
    GMenu* buildMenu(const std::vector<MenuItem>& items);
    void appendItem(GMenu* section, const MenuItem& item);
    std::string addAction(const MenuItem& item);
    void removeActions();

    GtkApplication* application_;
    Handler handler_;
    GMenu* bar_;
    std::vector<std::string> actions_;
    // Action names are never reused, so a stale activation of an earlier menu
    // bar cannot land on an item of the current one.
    unsigned long serial_ = 0;
};
