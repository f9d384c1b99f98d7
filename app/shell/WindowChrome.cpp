#include "app/shell/WindowChrome.hpp"

#include <utility>

#include "app/bridge/Bridge.hpp"
#include "app/shell/GuardedCallback.hpp"
#include "app/shell/WindowFrame.hpp"
#include "app/shell/WindowPlacement.hpp"

namespace {

constexpr const char* hooksKey = "quillmarsh-window-hooks";

const WindowChrome::Hooks& hooksOf(gpointer data) { return *static_cast<const WindowChrome::Hooks*>(data); }

// Refused either way: if asking failed, the window still stays, because
// closing it without the page's answer could drop unsaved edits.
gboolean closeRequested(GtkWindow*, gpointer hooks) noexcept {
    guarded([hooks] { hooksOf(hooks).closeRequested(); });
    return TRUE;
}

void activeChanged(GObject* window, GParamSpec*, gpointer hooks) noexcept {
    guarded([&] {
        if (gtk_window_is_active(GTK_WINDOW(window))) hooksOf(hooks).becameActive();
    });
}

// A window that could not be placed opens where the desktop puts it.
void placeOnMap(GtkWidget* window, gpointer) noexcept {
    guarded([window] {
        auto frame = WindowFrame::load(WindowFrame::defaultPath());
        std::optional<std::pair<int, int>> at;
        if (frame && frame->x && frame->y) at = std::make_pair(*frame->x, *frame->y);
        WindowPlacement::place(GTK_WINDOW(window), at);
    });
}

void deleteHooks(gpointer hooks) noexcept {
    guarded([hooks] { delete static_cast<WindowChrome::Hooks*>(hooks); });
}

// No title bar of the desktop's: the page draws its own strip below, and the
// window keeps its resize edges. The one row above the page is the menu bar,
// which on this desktop lives inside the window, with the window's own
// buttons at its end so the window can still be closed, minimised and
// maximised with the mouse.
void addTopRow(GtkWindow* window, GMenuModel* menus) {
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), FALSE);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* menuBar = gtk_popover_menu_bar_new_from_model(menus);
    gtk_widget_set_hexpand(menuBar, TRUE);
    gtk_box_append(GTK_BOX(row), menuBar);
    gtk_box_append(GTK_BOX(row), gtk_window_controls_new(GTK_PACK_END));
    GtkWidget* handle = gtk_window_handle_new();
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(handle), row);
    gtk_window_set_titlebar(window, handle);
    // The row is one bar: the menu bar draws no edge of its own inside it.
    GtkCssProvider* style = gtk_css_provider_new();
    gtk_css_provider_load_from_data(style, "windowhandle.titlebar menubar { box-shadow: none; background: none; }", -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(GTK_WIDGET(window)), GTK_STYLE_PROVIDER(style),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(style);
}

}  // namespace

namespace WindowChrome {

GtkWindow* make(GtkApplication* application, GMenuModel* menus, GtkWidget* content, Hooks hooks) {
    GtkWindow* window = GTK_WINDOW(gtk_application_window_new(application));
    gtk_window_set_title(window, appName().c_str());
    auto frame = WindowFrame::load(WindowFrame::defaultPath()).value_or(WindowFrame{});
    gtk_window_set_default_size(window, frame.width, frame.height);
    gtk_widget_set_size_request(GTK_WIDGET(window), WindowFrame::minWidth, WindowFrame::minHeight);
    addTopRow(window, menus);
    gtk_window_set_child(window, content);

    // The window owns the hooks; its signals are gone before its data is freed.
    auto* held = new Hooks(std::move(hooks));
    g_object_set_data_full(G_OBJECT(window), hooksKey, held, deleteHooks);
    g_signal_connect(window, "close-request", G_CALLBACK(closeRequested), held);
    g_signal_connect(window, "notify::is-active", G_CALLBACK(activeChanged), held);
    g_signal_connect(window, "map", G_CALLBACK(placeOnMap), nullptr);
    return window;
}

void rememberFrame(GtkWindow* window) {
    WindowFrame frame;
    gtk_window_get_default_size(window, &frame.width, &frame.height);
    auto saved = WindowFrame::load(WindowFrame::defaultPath());
    if (!gtk_window_is_maximized(window)) {
        if (auto at = WindowPlacement::position(window)) {
            frame.x = at->first;
            frame.y = at->second;
        }
    } else if (saved) {
        // A maximised window has no place of its own; it keeps the one it had.
        frame.x = saved->x;
        frame.y = saved->y;
    }
    if (frame.width > 0 && frame.height > 0) frame.save(WindowFrame::defaultPath());
}

void showStandardAbout(GtkWindow* parent, const std::optional<std::string>& version) {
    GtkWidget* about = gtk_about_dialog_new();
    gtk_about_dialog_set_program_name(GTK_ABOUT_DIALOG(about), appName().c_str());
    if (version) gtk_about_dialog_set_version(GTK_ABOUT_DIALOG(about), version->c_str());
    gtk_window_set_transient_for(GTK_WINDOW(about), parent);
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    gtk_window_present(GTK_WINDOW(about));
}

}  // namespace WindowChrome
