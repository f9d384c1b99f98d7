#include "app/shell/GtkMenus.hpp"

#include <memory>

#include "app/shell/GuardedCallback.hpp"

namespace {

// Menu labels in GTK take "_" as a mnemonic mark; the page's labels are shown as written.
std::string literalLabel(const std::string& label) {
    std::string out;
    for (char c : label) {
        if (c == '_') out += '_';
        out += c;
    }
    return out;
}

// The fixed items keep fixed action names; page items get numbered ones.
const char* fixedActionName(MenuAction action) {
    switch (action) {
        case MenuAction::showPageAbout: return "about";
        case MenuAction::standardAbout: return "standard-about";
        case MenuAction::checkForUpdates: return "check-updates";
        case MenuAction::showPageSettings: return "settings";
        case MenuAction::hide: return "hide";
        case MenuAction::quit: return "quit";
        case MenuAction::cut: return "cut";
        case MenuAction::copy: return "copy";
        case MenuAction::paste: return "paste";
        case MenuAction::selectAll: return "select-all";
        case MenuAction::none:
        case MenuAction::runPageMenu: return nullptr;
    }
    return nullptr;
}

}  // namespace

GtkMenus::GtkMenus(GtkApplication* application, Handler handler)
    : application_(application), handler_(std::move(handler)), bar_(g_menu_new()) {}

GtkMenus::~GtkMenus() {
    removeActions();
    g_object_unref(bar_);
}

std::string GtkMenus::accelerator(const KeyEquivalent& key) {
    guint keyval = 0;
    if (key.key == "\t") {
        keyval = GDK_KEY_Tab;
    } else {
        const char* text = key.key.c_str();
        gunichar character = g_utf8_get_char_validated(text, -1);
        // A character made of several code points has no key of its own.
        if (character == static_cast<gunichar>(-1) || character == static_cast<gunichar>(-2) ||
            *g_utf8_next_char(text) != '\0') {
            return "";
        }
        keyval = gdk_unicode_to_keyval(character);
    }
    const char* name = gdk_keyval_name(keyval);
    if (!name) return "";
    std::string accel = key.acceleratorModifiers() + name;
    guint parsedKey = 0;
    GdkModifierType parsedModifiers{};
    if (!gtk_accelerator_parse(accel.c_str(), &parsedKey, &parsedModifiers) || parsedKey == 0) return "";
    return accel;
}

void GtkMenus::install(const MenuBar& bar) {
    removeActions();
    g_menu_remove_all(bar_);
    for (const auto& menu : bar.menus) {
        GMenu* submenu = buildMenu(menu.items);
        g_menu_append_submenu(bar_, literalLabel(menu.title).c_str(), G_MENU_MODEL(submenu));
        g_object_unref(submenu);
    }
}

GMenu* GtkMenus::buildMenu(const std::vector<MenuItem>& items) {
    // Separators become section breaks, the menu model's only kind of line.
    GMenu* menu = g_menu_new();
    GMenu* section = g_menu_new();
    for (const auto& item : items) {
        if (item.kind == MenuItem::Kind::separator) {
            g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
            g_object_unref(section);
            section = g_menu_new();
            continue;
        }
        appendItem(section, item);
    }
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
    g_object_unref(section);
    return menu;
}

void GtkMenus::appendItem(GMenu* section, const MenuItem& item) {
    std::string label = literalLabel(item.title);
    if (item.kind == MenuItem::Kind::submenu) {
        GMenu* submenu = buildMenu(item.items);
        GMenuItem* entry = g_menu_item_new_submenu(label.c_str(), G_MENU_MODEL(submenu));
        if (!item.enabled) {
            // A disabled action keeps the submenu from opening.
            std::string name = addAction(item);
            g_menu_item_set_attribute(entry, "submenu-action", "s", name.c_str());
        }
        g_menu_append_item(section, entry);
        g_object_unref(entry);
        g_object_unref(submenu);
        return;
    }
    std::string name = addAction(item);
    GMenuItem* entry = g_menu_item_new(label.c_str(), name.c_str());
    if (item.key) {
        std::string accel = accelerator(*item.key);
        if (!accel.empty()) {
            g_menu_item_set_attribute(entry, "accel", "s", accel.c_str());
            const char* accels[] = {accel.c_str(), nullptr};
            gtk_application_set_accels_for_action(application_, name.c_str(), accels);
        }
    }
    g_menu_append_item(section, entry);
    g_object_unref(entry);
}

std::string GtkMenus::addAction(const MenuItem& item) {
    const char* fixed = fixedActionName(item.action);
    std::string name = fixed ? fixed : "page-" + std::to_string(++serial_);
    GSimpleAction* action = item.checked
                                ? g_simple_action_new_stateful(name.c_str(), nullptr,
                                                               g_variant_new_boolean(*item.checked))
                                : g_simple_action_new(name.c_str(), nullptr);
    g_simple_action_set_enabled(action, item.enabled);
    auto* binding = new Binding{this, item.action, item.pageId};
    g_signal_connect_data(action, "activate", G_CALLBACK(activated), binding,
                          [](gpointer data, GClosure*) noexcept { guarded([data] { delete static_cast<Binding*>(data); }); }, GConnectFlags{});
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
    g_object_unref(action);
    actions_.push_back(name);
    return "app." + name;
}

void GtkMenus::activated(GSimpleAction*, GVariant*, gpointer data) noexcept {
    guarded([data] {
        auto* binding = static_cast<Binding*>(data);
        binding->menus->handler_(binding->action, binding->pageId);
    });
}

void GtkMenus::removeActions() {
    const char* none[] = {nullptr};
    for (const auto& name : actions_) {
        gtk_application_set_accels_for_action(application_, ("app." + name).c_str(), none);
        g_action_map_remove_action(G_ACTION_MAP(application_), name.c_str());
    }
    actions_.clear();
}
