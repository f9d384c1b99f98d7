#pragma once
// The one web view and the page's own title-bar strip on it. The window has
// no title bar of its own, so a press in the strip (outside the page's holes)
// moves the window and a double click there maximises or restores it; the page
// never sees those presses. F7 alone never reaches the view (see the .cpp).
#include <webkit/webkit.h>

#include "app/shell/HeaderArea.hpp"

class AppWebView {
public:
    // Makes the view from its configuration; the caller puts it in the window.
    AppWebView(WebKitWebContext* context, WebKitNetworkSession* session, WebKitUserContentManager* content,
               WebKitSettings* settings, bool controlledByAutomation);
    AppWebView(const AppWebView&) = delete;
    AppWebView& operator=(const AppWebView&) = delete;

    WebKitWebView* view() const { return view_; }
    GtkWidget* widget() const { return GTK_WIDGET(view_); }

    // The strip and its holes, as the page last described them.
    HeaderArea header;

private:
    static gboolean onKeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                 GdkModifierType state, gpointer self) noexcept;
    static gboolean onEvent(GtkEventControllerLegacy* controller, GdkEvent* event, gpointer self) noexcept;
    bool handle(GdkEvent* event);
    // The event's position in the view's coordinates.
    bool viewPosition(GdkEvent* event, double& x, double& y) const;
    GtkWindow* window() const;

    WebKitWebView* view_;

    // A press in the strip that has not moved far enough to start a move yet.
    bool pressed_ = false;
    GdkDevice* pressDevice_ = nullptr;
    int pressButton_ = 0;
    double pressX_ = 0, pressY_ = 0;  // surface coordinates
    guint32 pressTime_ = 0;
    // The previous press in the strip, for double clicks.
    guint32 lastPressTime_ = 0;
    double lastPressX_ = 0, lastPressY_ = 0;
    bool haveLastPress_ = false;
};
