#include "app/shell/AppWebView.hpp"

#include <cmath>

#include "app/shell/GuardedCallback.hpp"

namespace {

// How far the pointer moves before a press in the strip becomes a window move.
// Starting the move on the press itself would swallow the second press of a
// double click.
constexpr double moveThreshold = 4;

}  // namespace

AppWebView::AppWebView(WebKitWebContext* context, WebKitNetworkSession* session, WebKitUserContentManager* content,
                       WebKitSettings* settings, bool controlledByAutomation)
    : view_(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "network-session", session,
                                         "user-content-manager", content, "settings", settings,
                                         "is-controlled-by-automation", controlledByAutomation, nullptr))) {
    gtk_widget_set_hexpand(widget(), TRUE);
    gtk_widget_set_vexpand(widget(), TRUE);
    // Transparent until the page paints, so the window's own background shows
    // instead of a white flash.
    GdkRGBA clear = {0, 0, 0, 0};
    webkit_web_view_set_background_color(view_, &clear);

    GtkEventController* legacy = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(legacy, GTK_PHASE_CAPTURE);
    g_signal_connect(legacy, "event", G_CALLBACK(onEvent), this);
    gtk_widget_add_controller(widget(), legacy);

    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(onKeyPressed), this);
    gtk_widget_add_controller(widget(), keys);
}

// The web view hands every key to a hidden GTK text view of its own to turn
// the desktop's key bindings into editing commands. On that text view F7 is
// the binding that toggles its cursor, which starts the cursor blinking in a
// text view that has no layout and no focus: GTK's blink timer then fails an
// assertion and the whole program aborts (even when the page cancels the
// key, since the translation happens on this side first). So F7 without
// modifiers stops here. The page loses nothing it could claim: a menu key
// equivalent is a single character, and F7 is not one.
gboolean AppWebView::onKeyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                                  gpointer) noexcept {
    constexpr auto modifiers = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK | GDK_META_MASK;
    return guarded(GDK_EVENT_PROPAGATE, [&] {
        return keyval == GDK_KEY_F7 && (state & modifiers) == 0 ? GDK_EVENT_STOP : GDK_EVENT_PROPAGATE;
    });
}

gboolean AppWebView::onEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer self) noexcept {
    // An event the strip failed to handle goes on to the page as if outside it.
    return guarded(GDK_EVENT_PROPAGATE, [&] {
        return static_cast<AppWebView*>(self)->handle(event) ? GDK_EVENT_STOP : GDK_EVENT_PROPAGATE;
    });
}

GtkWindow* AppWebView::window() const {
    GtkRoot* root = gtk_widget_get_root(widget());
    return root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

bool AppWebView::viewPosition(GdkEvent* event, double& x, double& y) const {
    double surfaceX = 0, surfaceY = 0;
    if (!gdk_event_get_position(event, &surfaceX, &surfaceY)) return false;
    GtkNative* native = gtk_widget_get_native(widget());
    if (!native) return false;
    double offsetX = 0, offsetY = 0;
    gtk_native_get_surface_transform(native, &offsetX, &offsetY);
    return gtk_widget_translate_coordinates(GTK_WIDGET(native), widget(), surfaceX - offsetX, surfaceY - offsetY,
                                            &x, &y);
}

bool AppWebView::handle(GdkEvent* event) {
    GdkEventType type = gdk_event_get_event_type(event);
    if (type == GDK_BUTTON_PRESS) {
        if (gdk_button_event_get_button(event) != GDK_BUTTON_PRIMARY) return false;
        double x = 0, y = 0;
        GtkWindow* toplevel = window();
        if (!toplevel || !viewPosition(event, x, y) || !header.isDragArea(x, y)) return false;

        guint32 time = gdk_event_get_time(event);
        int doubleClickTime = 400, doubleClickDistance = 5;
        g_object_get(gtk_widget_get_settings(widget()), "gtk-double-click-time", &doubleClickTime,
                     "gtk-double-click-distance", &doubleClickDistance, nullptr);
        bool second = haveLastPress_ && time - lastPressTime_ <= static_cast<guint32>(doubleClickTime) &&
                      std::fabs(x - lastPressX_) <= doubleClickDistance &&
                      std::fabs(y - lastPressY_) <= doubleClickDistance;
        if (second) {
            haveLastPress_ = false;
            pressed_ = false;
            if (gtk_window_is_maximized(toplevel)) gtk_window_unmaximize(toplevel);
            else gtk_window_maximize(toplevel);
            return true;
        }
        haveLastPress_ = true;
        lastPressTime_ = time;
        lastPressX_ = x;
        lastPressY_ = y;
        pressed_ = true;
        pressDevice_ = gdk_event_get_device(event);
        pressButton_ = static_cast<int>(gdk_button_event_get_button(event));
        gdk_event_get_position(event, &pressX_, &pressY_);
        pressTime_ = time;
        return true;
    }
    if (!pressed_) return false;
    if (type == GDK_MOTION_NOTIFY) {
        double x = 0, y = 0;
        gdk_event_get_position(event, &x, &y);
        if (std::hypot(x - pressX_, y - pressY_) < moveThreshold) return true;
        pressed_ = false;
        haveLastPress_ = false;
        GtkNative* native = gtk_widget_get_native(widget());
        GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
        if (surface && GDK_IS_TOPLEVEL(surface)) {
            gdk_toplevel_begin_move(GDK_TOPLEVEL(surface), pressDevice_, pressButton_, pressX_, pressY_,
                                    gdk_event_get_time(event));
        }
        return true;
    }
    if (type == GDK_BUTTON_RELEASE) {
        // The page never saw the press, so it does not get the release either.
        pressed_ = false;
        return true;
    }
    return false;
}
