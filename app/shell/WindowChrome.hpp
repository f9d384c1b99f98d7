#pragma once
// The window around the page: its one row above the page (the menu bar, with
// the window's own buttons at its end), its remembered size and place, the
// toolkit's about window, and its close button and focus turned into plain
// calls. Kept apart from the owner so how the window looks and where it
// stands can be changed without touching the launch or the page.
#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

namespace WindowChrome {

// What the window's signals turn into; both run on the main thread.
struct Hooks {
    // The close button was pressed. The window itself never closes: closing
    // asks like Quit does.
    std::function<void()> closeRequested;
    // The window became the active one.
    std::function<void()> becameActive;
};

// The application's window at its remembered size, `menus` and the window's
// buttons as its top row and `content` filling the rest; it is put back where
// it stood when it is first shown. Not presented yet.
GtkWindow* make(GtkApplication* application, GMenuModel* menus, GtkWidget* content, Hooks hooks);

// Keeps the window's size (as it is when not maximised) and its place for the
// next launch.
void rememberFrame(GtkWindow* window);

// The toolkit's own about window, modal to `parent` (which may be null).
void showStandardAbout(GtkWindow* parent, const std::optional<std::string>& version);

}  // namespace WindowChrome
