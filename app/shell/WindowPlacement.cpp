#include "app/shell/WindowPlacement.hpp"

#include <gdk/x11/gdkx.h>

namespace {

struct X11Window {
    Display* display = nullptr;
    Window id = 0;
};

std::optional<X11Window> x11Window(GtkWindow* window) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (!surface || !GDK_IS_X11_DISPLAY(display) || !GDK_IS_X11_SURFACE(surface)) return std::nullopt;
    return X11Window{gdk_x11_display_get_xdisplay(display), gdk_x11_surface_get_xid(surface)};
}

// Whether a point lies on one of the display's monitors.
bool onAMonitor(GdkDisplay* display, int x, int y) {
    GListModel* monitors = gdk_display_get_monitors(display);
    for (guint i = 0, n = g_list_model_get_n_items(monitors); i < n; ++i) {
        auto* monitor = GDK_MONITOR(g_list_model_get_item(monitors, i));
        GdkRectangle area{};
        gdk_monitor_get_geometry(monitor, &area);
        g_object_unref(monitor);
        if (x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height) return true;
    }
    return false;
}

}  // namespace

namespace WindowPlacement {

std::optional<std::pair<int, int>> position(GtkWindow* window) {
    auto x11 = x11Window(window);
    if (!x11) return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(x11->display, x11->id, DefaultRootWindow(x11->display), 0, 0, &x, &y, &child)) {
        return std::nullopt;
    }
    return std::make_pair(x, y);
}

void move(GtkWindow* window, int x, int y) {
    auto x11 = x11Window(window);
    if (!x11) return;
    XMoveWindow(x11->display, x11->id, x, y);
    XFlush(x11->display);
}

void place(GtkWindow* window, std::optional<std::pair<int, int>> wanted) {
    auto x11 = x11Window(window);
    if (!x11) return;
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    // A frame saved on a monitor that is gone would open the window out of reach.
    if (wanted && onAMonitor(display, wanted->first + 40, wanted->second + 20)) {
        move(window, wanted->first, wanted->second);
        return;
    }
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    GdkMonitor* monitor = gdk_display_get_monitor_at_surface(display, surface);
    if (!monitor) return;
    GdkRectangle area{};
    gdk_monitor_get_geometry(monitor, &area);
    // The X window is not sized yet when it is first mapped: take the size the
    // window asked for.
    int width = 0, height = 0;
    gtk_window_get_default_size(window, &width, &height);
    move(window, area.x + (area.width - width) / 2, area.y + (area.height - height) / 2);
}

}  // namespace WindowPlacement
